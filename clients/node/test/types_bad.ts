// Type-checked by tsc --strict, never run: every line marked with an error
// code must be rejected with that code, and nothing else may be.
import { EngineEvent, ResultEvent, registerSpeaker, startEngine, transcribeFile, unregisterSpeaker } from '../index';

declare const event: EngineEvent;
declare const result: ResultEvent;
const engine = startEngine({ secondModel: 'm', secondTokens: 't' });

startEngine({ secondModel: 5 }); // error TS2322
startEngine({ manualmode: true }); // error TS2561
startEngine({ audioFormat: 's24le' }); // error TS2322
startEngine({ numThreadsSecond: '4' }); // error TS2322
transcribeFile('a.wav', { format: 'mp3' }); // error TS2322
transcribeFile('a.wav', { offline2pass: true }); // error TS2353
transcribeFile('a.wav', { wavInput: 'b.wav' }); // error TS2353
engine.write(new Float64Array(1)); // error TS2345
engine.set('chunk-duration', 1); // error TS2345
engine.on('partial', (partial: ResultEvent) => partial); // error TS2345
const always: boolean = result.is_final; // error TS2322
const speaker: string = result.segments[0].speaker; // error TS2322
if (event.type === 'log') void event.text; // error TS2339
registerSpeaker({ db: 'd', name: 'n', wav: 'w' }); // error TS2345
unregisterSpeaker({ db: 'd', id: 'a', name: 'b' }); // error TS2345
void always;
void speaker;
