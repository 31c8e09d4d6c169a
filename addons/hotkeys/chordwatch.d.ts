// Typings of the chordwatch add-on (build/addons/chordwatch.node):
//   const { Chordwatch } = require('./chordwatch.node') as typeof import('./chordwatch');

/** Options of the constructor; each is used only when of the stated type. */
export interface ChordwatchOptions {
  /** Log why releases are sent or ignored. Default false. */
  debug?: boolean;
  /** Allow exclusive bindings and swallow their key events. Default false. */
  exclusiveMode?: boolean;
  /** Holds shorter than this report no release. Default 100; no range check. */
  minPressDurationMs?: number;
}

/** Options of `register`. */
export interface RegisterOptions {
  /** Swallow the binding's key events; only honoured in exclusive mode. */
  exclusive?: boolean;
  /** Carried by the binding's events when not empty. */
  name?: string;
}

/** The binding's last key went down. */
export interface ChordwatchPressEvent {
  type: 'press';
  binding_id: string;
  /** Canonical combination, as "Ctrl+Shift+a". */
  combo: string;
  /** Present only when the binding has a name. */
  name?: string;
  exclusive: boolean;
  /** Seconds since the Unix epoch. */
  timestamp: number;
}

/** The binding's first key went up after at least the minimum hold time. */
export interface ChordwatchReleaseEvent {
  type: 'release';
  binding_id: string;
  combo: string;
  name?: string;
  exclusive: boolean;
  timestamp: number;
  /** Seconds the binding was held. */
  duration_s: number;
}

/** Any key going down or up, bound or not. */
export interface ChordwatchRawEvent {
  type: 'raw_press' | 'raw_release';
  /** Always empty. */
  binding_id: '';
  /** Always empty. */
  combo: '';
  /** Key name, as "a", "LeftCtrl", "F5" or "key_57". */
  raw_key: string;
  /** Always false. */
  exclusive: false;
  timestamp: number;
}

export type ChordwatchEvent =
  | ChordwatchPressEvent
  | ChordwatchReleaseEvent
  | ChordwatchRawEvent;

export type BindingState = 'pressed' | 'released' | 'unregistered';

export declare class Chordwatch {
  constructor(options?: ChordwatchOptions);

  /**
   * Installs the callback, replacing an earlier one. While a callback is
   * installed the object keeps the event loop alive.
   * @throws TypeError "setEventCallback expects a function"
   */
  setEventCallback(callback: (event: ChordwatchEvent) => void): void;

  /** Starts watching the keyboard; does nothing when already started. */
  start(): void;

  /** Stops watching; held bindings are forgotten without a release. */
  stop(): void;

  /**
   * Adds a binding such as "ctrl+shift+a" and returns its id ("binding_1", ...).
   * @throws TypeError "register expects combo string"
   * @throws Error "combo is empty"
   */
  register(combo: string, options?: RegisterOptions): string;

  /**
   * Removes a binding; unknown ids are ignored.
   * @throws TypeError "unregister expects binding id"
   */
  unregister(bindingId: string): void;

  /** Removes every binding; ids keep counting. */
  clear(): void;

  /**
   * The binding's state from the physical keyboard.
   * @throws TypeError "getBindingState expects binding id"
   */
  getBindingState(bindingId: string): BindingState;
}
