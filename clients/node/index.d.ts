// Typings of the Node client of the dictacore speech engine. They stand on
// their own (no @types/node needed): Node's Buffer is a Uint8Array, and an
// AbortController's signal fits AbortSignalLike.

// ---- Events: one JSON object per line of the engine's standard output ----

export interface ReadyEvent {
  type: 'ready';
}

/** Diagnostics, tagged "[M2]", "[M3]", "[SESSION-DIAG]", "[VAD]", "[TIMING]", ... */
export interface LogEvent {
  type: 'log';
  message: string;
}

export interface ErrorEvent {
  type: 'error';
  message: string;
}

/** The last line of a run. */
export interface CompleteEvent {
  type: 'complete';
  message: string;
}

/** Live partial text of the segment being spoken; empty when the segment closes. */
export interface FirstPassEvent {
  type: 'first-pass';
  /** Only with the sessionId option. */
  sessionId?: number;
  segment_id: number;
  text: string;
  mode: 'online_partial';
  is_final: boolean;
}

/** The punctuated partial text of a segment the speech detector closed. */
export interface PunctuatedEvent {
  type: 'punctuated';
  sessionId?: number;
  segment_id: number;
  text: string;
}

/** One recognised stretch of audio. Times are seconds from the start of the session or file. */
export interface Segment {
  /** Two decimals. */
  start_time: number;
  end_time: number;
  /** Milliseconds, rounded half up. */
  start_ms: number;
  end_ms: number;
  text: string;
  /** "SPEAKER_00", ... or an enrolled name; only when known. */
  speaker?: string;
}

/**
 * Second-pass text. A final result of the offline two-pass decode (files,
 * and live sessions with offline2pass) carries `is_final`, `offline_2pass`
 * and `merged_text`; realtime batches and single-model commits carry the
 * segment ids they cover.
 */
export interface ResultEvent {
  type: 'result';
  stage: 'second-pass';
  mode: 'offline_final';
  sessionId?: number;
  segment_id?: number;
  segment_start_id?: number;
  segment_count?: number;
  is_final?: true;
  offline_2pass?: true;
  segments: Segment[];
  /** Only on final results with text. */
  merged_text?: string;
}

export type EngineEvent =
  | ReadyEvent
  | LogEvent
  | ErrorEvent
  | CompleteEvent
  | FirstPassEvent
  | PunctuatedEvent
  | ResultEvent;

// ---- Results of the client's calls ----

/** The final text of a file or of a dictation session. */
export interface TranscriptionResult {
  /** The engine's merged text when it gives one, else the segment texts joined by spaces. */
  text: string;
  segments: Segment[];
  /** Every speaker label of the segments, once, in order of appearance. */
  speakers: string[];
}

/** An engine that failed, or ended before it gave what was asked. */
export declare class EngineError extends Error {
  name: 'EngineError';
  /** Exit status, when the engine has exited with one. */
  exitCode: number | null;
  /** The signal that ended the engine, if one did. */
  signal: string | null;
  /** The end of what the engine wrote on standard error. */
  stderr: string;
}

// ---- Options: each maps onto one dictacore command-line option ----

/** Models and recognition settings, for files and live sessions alike. */
export interface ModelOptions {
  /** Streaming first-pass model family. Default "transducer". */
  firstModelType?: 'transducer' | 'zipformer' | 'paraformer';
  firstEncoder?: string;
  firstDecoder?: string;
  /** Not for paraformer. */
  firstJoiner?: string;
  firstTokens?: string;
  /** Offline second-pass model. Empty: whisper when encoder and decoder are given. */
  secondType?: 'sensevoice' | 'sense-voice' | 'whisper' | '';
  /** SenseVoice model. */
  secondModel?: string;
  /** Whisper encoder and decoder. */
  secondEncoder?: string;
  secondDecoder?: string;
  /** Second-pass tokens; always required. */
  secondTokens?: string;
  secondLanguage?: string;
  /** Whisper task. Default "transcribe". */
  secondTask?: 'transcribe' | 'translate';
  /** No inverse text normalisation (SenseVoice). */
  disableSecondItn?: boolean;
  /** CT-Transformer punctuation model. */
  ctTransformer?: string;
  numThreadsFirst?: number;
  numThreadsSecond?: number;
  numThreadsPunc?: number;
  providerFirst?: string;
  providerSecond?: string;
  providerPunc?: string;
  /** The engine takes 16 kHz only. */
  sampleRate?: 16000;
  sileroVadModel?: string;
  vadThreshold?: number;
  /** Seconds. */
  vadMinSilence?: number;
  vadMinSpeech?: number;
  vadMaxSpeech?: number;
  vadLookback?: number;
  vadLookahead?: number;
  /** Label speakers in offline results. */
  diarization?: boolean;
  /** Folder holding the segmentation and embedding models. */
  diarizationModel?: string;
  diarizationSegmentationModel?: string;
  diarizationEmbeddingModel?: string;
  /** macOS helper process for diarization. */
  diarizationHelperBinary?: string;
  diarizationBackend?: string;
  diarizationMinSpeakers?: number;
  diarizationMaxSpeakers?: number;
  diarizationNumThreads?: number;
  /** Name diarized speakers from the enrollment database. */
  speakerId?: boolean;
  speakerEmbeddingModel?: string;
  speakerEnrollDb?: string;
  speakerIdThreshold?: number;
  speakerIdMaxSeconds?: number;
}

/** Settings of live sessions. */
export interface LiveOptions extends ModelOptions {
  /** Path of the dictacore program. Default: build/bin/dictacore of this clone. */
  binary?: string;
  /** Format of the audio given to write(). Default "s16le". */
  audioFormat?: 's16le' | 'f32le';
  /** Seconds of audio the engine reads at a time (at least 0.02). */
  chunkDuration?: number;
  /** Push-to-talk: start() and stop() delimit a dictation. */
  manualMode?: boolean;
  /** Live partials and a realtime second pass while dictating. */
  manualRealtime?: boolean;
  /** With manualRealtime: decode the whole session again at stop(). */
  offline2pass?: boolean;
  /** Speech segments per realtime batch (0 disables). */
  secondPassEvery?: number;
  /** In manual mode, no capture before the first start(). */
  startPaused?: boolean;
  /** Echoed as `sessionId` in recognition events when 0 or more. */
  sessionId?: number;
  /** The second-pass model also drives the live partials. */
  singleModelStreaming?: boolean;
  /** Seconds between single-model partial decodes. */
  singlePartialInterval?: number;
  singleTrimCap?: number;
  singleTrimKeep?: number;
  singleMaxWindow?: number;
}

/** How far a file transcription has got. */
export interface Progress {
  /** Models load, speech is found in the whole file, decoded group by group, then merged. */
  stage: 'loading' | 'detecting-speech' | 'decoding' | 'finishing';
  /** While decoding: the end of the audio decoded so far, in seconds. */
  seconds?: number;
  /** Length of the file's audio in seconds, when it can be told from the file. */
  totalSeconds: number | null;
}

export interface AbortSignalLike {
  readonly aborted: boolean;
  readonly reason?: unknown;
  addEventListener(type: 'abort', listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: 'abort', listener: () => void): void;
}

export interface FileOptions extends ModelOptions {
  binary?: string;
  /** A WAV file, or raw mono 16 kHz samples in one of the engine's formats. Default "wav". */
  format?: 'wav' | 's16le' | 'f32le';
  /** Aborting ends the engine and rejects with an AbortError. */
  signal?: AbortSignalLike;
  onProgress?: (progress: Progress) => void;
}

/**
 * Transcribes a file. Rejects with an EngineError carrying the engine's
 * message and exit status when it fails.
 */
export function transcribeFile(file: string, options?: FileOptions): Promise<TranscriptionResult>;

// ---- Live engine ----

/** What start-up reported. */
export interface StartupReport {
  /** Start-up steps that failed; the engine runs on without them. */
  failures: string[];
}

export interface ExitStatus {
  code: number | null;
  signal: string | null;
}

export interface EngineEvents {
  event: [event: EngineEvent];
  partial: [event: FirstPassEvent];
  punctuated: [event: PunctuatedEvent];
  result: [event: ResultEvent];
  log: [event: LogEvent];
  drain: [];
  exit: [status: ExitStatus];
}

/** An EventEmitter of the events in EngineEvents. */
export declare class Engine implements AsyncIterable<EngineEvent> {
  constructor(options: LiveOptions);
  /** The engine's process id. */
  readonly pid: number | undefined;
  /** Resolves once the models are loaded; rejects when the engine fails to start. */
  readonly ready: Promise<StartupReport>;
  /** Begins a session; audio written from now on belongs to it. */
  start(): Promise<void>;
  /** Ends the session and resolves with its final result, whatever the stop mode. */
  stop(): Promise<TranscriptionResult>;
  /** Resolves with the interval the engine applies, in seconds. */
  set(name: 'single-partial-interval', seconds: number): Promise<number>;
  /**
   * Writes audio in the engine's format (a Buffer, or an Int16Array for
   * s16le, a Float32Array for f32le). Audio outside a session is dropped.
   * False when the pipe is full: wait for 'drain'.
   */
  write(pcm: Uint8Array | Int16Array | Float32Array): boolean;
  /** Quits after the commands given before, and resolves once the engine has exited. */
  close(): Promise<ExitStatus>;
  [Symbol.asyncIterator](): AsyncIterator<EngineEvent>;

  on<K extends keyof EngineEvents>(name: K, listener: (...args: EngineEvents[K]) => void): this;
  once<K extends keyof EngineEvents>(name: K, listener: (...args: EngineEvents[K]) => void): this;
  off<K extends keyof EngineEvents>(name: K, listener: (...args: EngineEvents[K]) => void): this;
  listenerCount(name: keyof EngineEvents): number;
}

export function startEngine(options: LiveOptions): Engine;

// ---- Speaker database ----

export interface SpeakerCommandOptions {
  /** The enrollment database file. */
  db: string;
  binary?: string;
}

export interface RegisterOptions extends SpeakerCommandOptions {
  embeddingModel: string;
  name: string;
  /** 16 kHz mono WAV sample of the voice. */
  wav: string;
  /** Add the voiceprint to this speaker id. */
  id?: string;
  /** Where sample copies go. Default: samples/ beside the database. */
  samplesDir?: string;
}

export interface Registered {
  type: 'ok';
  status: 'registered';
  id: string;
  name: string;
  md5: string;
  /** The saved copy of the sample; empty when it could not be saved. */
  sample: string;
}

export interface AlreadyRegistered {
  type: 'ok';
  status: 'already_registered';
  /** Absent when the sample's digest was known before any model was loaded. */
  id?: string;
  name: string;
  md5: string;
}

export interface Voiceprint {
  md5: string;
  sample: string;
}

export interface EnrolledSpeaker {
  id: string;
  name: string;
  count: number;
  voiceprints: Voiceprint[];
}

export interface SpeakerList {
  type: 'speakers';
  dim: number;
  speakers: EnrolledSpeaker[];
}

export interface Renamed {
  type: 'ok';
  status: 'renamed';
  id: string;
  name: string;
}

export interface Unregistered {
  type: 'ok';
  status: 'unregistered';
  /** Empty unless removed by id. */
  id: string;
  name: string;
  /** Digests of the removed voiceprints. */
  removed: string[];
}

export type NotFound =
  | { type: 'ok'; status: 'not_found'; id: string }
  | { type: 'ok'; status: 'not_found'; name: string }
  | { type: 'ok'; status: 'not_found'; md5: string };

export type UnregisterOptions = SpeakerCommandOptions & { samplesDir?: string } & (
  | { id: string; name?: never; md5?: never }
  | { name: string; id?: never; md5?: never }
  | { md5: string; id?: never; name?: never });

/** A labelled stretch of the recording, in seconds; end may be Infinity. */
export interface LabelledSegment {
  start: number;
  end: number;
  label: string;
}

export interface IdentifyOptions extends SpeakerCommandOptions {
  embeddingModel: string;
  wav: string;
  /** A segment list file (start, tab, end, tab, label per line) or the segments. */
  segments: string | LabelledSegment[];
  threshold?: number;
  maxSeconds?: number;
}

export interface IdentifiedSegment {
  start_time: number;
  end_time: number;
  label: string;
  /** The enrolled name, or the label when none matched. */
  speaker: string;
  score: number;
}

export interface Identification {
  type: 'identify-result';
  /** Label to enrolled name. */
  speakers: Record<string, string>;
  segments: IdentifiedSegment[];
}

export function registerSpeaker(options: RegisterOptions): Promise<Registered | AlreadyRegistered>;
export function listSpeakers(options: SpeakerCommandOptions & { samplesDir?: string }): Promise<SpeakerList>;
export function migrateSpeakers(options: SpeakerCommandOptions & { samplesDir?: string }): Promise<SpeakerList>;
export function renameSpeaker(options: SpeakerCommandOptions & { id: string; name: string }): Promise<Renamed | NotFound>;
export function unregisterSpeaker(options: UnregisterOptions): Promise<Unregistered | NotFound>;
export function identify(options: IdentifyOptions): Promise<Identification>;

// ---- WAV files ----

export interface WavInfo {
  sampleRate: number;
  channels: number;
  /** null for sample formats the engine does not read. */
  format: 's16le' | 'f32le' | null;
  /** Where the samples start in the file, and how many bytes they take. */
  dataOffset: number;
  dataBytes: number;
}

/** Reads a WAV file's layout from its headers; throws when it is not a WAV file. */
export function wavInfo(file: string): WavInfo;

/** The dictacore program of this clone (build/bin/dictacore). */
export const DEFAULT_BINARY: string;
