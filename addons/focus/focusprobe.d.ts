// Typings of the focusprobe add-on (focusprobe.node). Every function runs
// synchronously, takes no arguments and never throws.

/** The frontmost application and window. */
export interface WindowInfo {
  appName: string;
  windowTitle: string;
  /** Whether the focused element takes typed text. */
  canInput: boolean;
}

/** One piece of text visible in the focused window. */
export interface TextCandidate {
  value: string;
  role: 'AXTextField' | 'AXTextArea' | 'AXStaticText';
  /** Screen position; 0 when the element reports none. */
  rawX: number;
  rawY: number;
  /** Position relative to the focused window; 0 when the element reports none. */
  x: number;
  y: number;
  /** Depth below the focused window, which is depth 0. */
  depth: number;
}

/** How the last text probe went. */
export interface TextProbeDebug {
  accessibilityTrusted: boolean;
  /** Accessibility error code of the focused window lookup, 0 on success. */
  focusedWindowError: number;
  focusedWindowFound: boolean;
  visitedCount: number;
  childFetchErrorCount: number;
  candidateCount: number;
}

/** The frontmost application and window, or null when no application name is known. */
export function getActiveApp(): WindowInfo | null;

/** Texts of the focused window in reading order, each value once; empty without a focused window. */
export function getFocusedWindowTextCandidates(): TextCandidate[];

/** Runs a full text probe and reports its counters instead of its texts. */
export function getFocusedWindowTextProbeDebug(): TextProbeDebug;
