// Type-checked by tsc --strict, never run: the uses below must compile, and
// each line after a @ts-expect-error must be rejected by the typings.
import { BindingState, Chordwatch, ChordwatchEvent } from './chordwatch';

function use(...values: unknown[]): void {
  void values;
}

const watcher = new Chordwatch({
  debug: true,
  exclusiveMode: false,
  minPressDurationMs: 150,
});
new Chordwatch();
new Chordwatch({});

const id: string = watcher.register('ctrl+space', { exclusive: true, name: 'talk' });
watcher.register('a');

watcher.setEventCallback((event: ChordwatchEvent) => {
  const when: number = event.timestamp;
  const binding: string = event.binding_id;
  const exclusive: boolean = event.exclusive;
  switch (event.type) {
    case 'release': {
      const held: number = event.duration_s;
      const name: string | undefined = event.name;
      use(when, binding, exclusive, held, name);
      break;
    }
    case 'press':
      // @ts-expect-error a press has no duration
      use(event.duration_s);
      // @ts-expect-error only raw events name their key
      use(event.raw_key);
      break;
    case 'raw_press':
    case 'raw_release': {
      const key: string = event.raw_key;
      // @ts-expect-error raw events have no binding name
      use(key, event.name);
      break;
    }
  }
});

const state: BindingState = watcher.getBindingState(id);
const known: 'pressed' | 'released' | 'unregistered' = state;
watcher.start();
watcher.stop();
watcher.unregister(id);
watcher.clear();
use(known);

// @ts-expect-error combinations are strings
watcher.register(5);
// @ts-expect-error the option is exclusiveMode
new Chordwatch({ exclusive: true });
// @ts-expect-error minPressDurationMs is a number
new Chordwatch({ minPressDurationMs: '100' });
// @ts-expect-error the callback takes an event
watcher.setEventCallback((event: string) => use(event));
// @ts-expect-error states are three fixed strings
const narrow: 'pressed' | 'released' = watcher.getBindingState(id);
// @ts-expect-error methods return nothing
const started: boolean = watcher.start();
use(narrow, started);
