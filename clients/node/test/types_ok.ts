// Type-checked by tsc --strict, never run: every use below must compile.
import {
  AbortSignalLike, EngineError, EngineEvent, TranscriptionResult, identify, listSpeakers,
  registerSpeaker, startEngine, transcribeFile, unregisterSpeaker,
} from '../index';

declare const signal: AbortSignalLike;

// Exhaustive over the event types: a missing case would leave the function
// without a return value.
function describe(event: EngineEvent): string {
  switch (event.type) {
    case 'ready':
      return 'ready';
    case 'log':
    case 'error':
    case 'complete':
      return event.message;
    case 'first-pass':
      return `${event.segment_id}:${event.text}:${event.is_final}:${event.mode}`;
    case 'punctuated':
      return `${event.sessionId ?? -1}:${event.text}`;
    case 'result': {
      const final: true | undefined = event.offline_2pass;
      const merged: string | undefined = event.merged_text;
      const speakers = event.segments.map((segment) => segment.speaker ?? segment.text);
      return `${event.stage}:${event.mode}:${final}:${merged}:${speakers.join()}:${event.segment_count}`;
    }
  }
}

async function dictate(): Promise<TranscriptionResult> {
  const engine = startEngine({
    secondModel: 'model.onnx', secondTokens: 'tokens.txt', manualMode: true,
    manualRealtime: true, offline2pass: true, audioFormat: 'f32le', chunkDuration: 0.1,
    firstModelType: 'paraformer', sessionId: 7, sampleRate: 16000,
  });
  const { failures } = await engine.ready;
  engine.on('partial', (event) => describe(event)).on('log', (event) => event.message);
  engine.on('exit', ({ code, signal: ended }) => `${code ?? ended}`);
  const pid: number | undefined = engine.pid;
  await engine.start();
  engine.write(new Float32Array(1600));
  engine.write(new Uint8Array(6400));
  const result = await engine.stop();
  const applied: number = await engine.set('single-partial-interval', 0.3);
  for await (const event of engine) describe(event);
  const { code } = await engine.close();
  return { ...result, text: `${result.text}${failures.length}${pid}${applied}${code}` };
}

async function files(): Promise<string> {
  try {
    const { text, segments, speakers } = await transcribeFile('a.wav', {
      secondModel: 'm', secondTokens: 't', diarization: true, format: 's16le', signal,
      onProgress: (progress) => progress.seconds ?? progress.totalSeconds ?? progress.stage,
    });
    return `${text}${segments[0].end_ms}${speakers[0]}`;
  } catch (error) {
    if (error instanceof EngineError) return `${error.exitCode ?? error.signal}${error.stderr}`;
    throw error;
  }
}

async function speakers(): Promise<string> {
  const db = 'db.txt';
  const registered = await registerSpeaker({ db, embeddingModel: 'e.onnx', name: 'Ann', wav: 'a.wav' });
  const sample = registered.status === 'registered' ? registered.sample : registered.md5;
  const { dim, speakers: enrolled } = await listSpeakers({ db });
  const removed = await unregisterSpeaker({ db, md5: enrolled[0].voiceprints[0].md5 });
  const found = await identify({
    db, embeddingModel: 'e.onnx', wav: 'b.wav', segments: [{ start: 0, end: Infinity, label: 'A' }],
  });
  return `${sample}${dim}${removed.status}${found.speakers.A}${found.segments[0].score}`;
}

void dictate;
void files;
void speakers;
