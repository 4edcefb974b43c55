// Where the decoding worker's bytes come from: a server that answers byte
// ranges (HttpRanges), or a document downloaded whole (MemoryRanges). A
// server is not trusted: every answer is checked against what was asked for,
// read as a stream and stopped at the length asked for, and bounded in time.
//
// - One file per document: the first answer's validator (a strong ETag, else
//   Last-Modified) goes with every later range request as If-Range and as a
//   precondition (If-Match, If-Unmodified-Since); a 200 or a 412 to such a
//   request, an answer with another validator or another total length means
//   the document changed on the server while it was read, and the document
//   fails with CHANGED. (Cross-origin, where these headers would need the
//   server's leave in a preflight, the answers' validators and lengths are
//   compared without sending them.)
// - Time-outs: a streamed answer ends when no byte came for IDLE_MS, or when
//   it took more than TOTAL_MS in all (a long answer TOTAL_MS for each
//   LONG_ANSWER_BYTES). A synchronous request cannot see its bytes arrive: it
//   has IDLE_MS plus a second for each SLOW_BYTES_PER_S of its length, at
//   most TOTAL_MS.
// - Passing failures: a 5xx answer, a dropped connection or a time-out is
//   tried again RETRY_DELAYS_MS.length times, after each of those delays; a
//   4xx is not. A range answer with a Content-Encoding is refused.
// - The download cap bounds a whole download. Range reads are bounded by
//   what the core holds (its cache, the pixels), never by the session's
//   total: a document may be browsed for as long as it is open.

export const DEFAULT_DOWNLOAD_LIMIT = 1024 * 1024 * 1024;
// The first request: enough for the header, the first directory and, in a
// document written directories first, every directory and the hotspots.
export const FIRST_RANGE_BYTES = 64 * 1024;
export const IDLE_MS = 15000;
export const TOTAL_MS = 60000;
export const LONG_ANSWER_BYTES = 16 * 1024 * 1024;
export const SLOW_BYTES_PER_S = 256 * 1024;
export const RETRY_DELAYS_MS = [500, 2000];
export const CHANGED = 'The document changed on the server while it was being read';

export class RangeReadError extends Error {}

// A failure that may pass: tried again after a delay.
function passing(message) {
  const error = new RangeReadError(message);
  error.retry = true;
  return error;
}

function changed() {
  const error = new RangeReadError(CHANGED);
  error.changed = true;
  return error;
}

// An error that carries the answer's HTTP status (the page words it).
function loadError(response) {
  const status = `${response.status} ${response.statusText || ''}`.trim();
  const error = new Error(`The document could not be loaded (${status})`);
  error.status = status;
  if (response.status >= 500) error.retry = true;
  return error;
}

function tooBigText(limit) {
  const amount = limit >= 1048576 ? `${Math.round(limit / 1048576)} MB` : `${limit} bytes`;
  return `The document is larger than the ${amount} a download may take`;
}

function tooBig(limit) {
  const error = new RangeReadError(tooBigText(limit));
  error.tooBig = true;
  return error;
}

const CONTENT_RANGE = /^bytes (\d+)-(\d+)\/(\d+|\*)$/;

// Checks a 206 answer to `bytes=first-last`: the Content-Range it names and
// the body's length (undefined: not known yet, a streamed body). Returns the
// file's size; throws on a damaged answer, CHANGED for another size.
export function checkRangeAnswer(first, last, contentRange, bodyLength, knownSize) {
  const m = CONTENT_RANGE.exec((contentRange || '').trim());
  if (!m) throw new RangeReadError(`the answer has no usable Content-Range ("${contentRange || ''}")`);
  const [from, to] = [Number(m[1]), Number(m[2])];
  const size = m[3] === '*' ? knownSize : Number(m[3]);
  if (!(size > 0)) throw new RangeReadError('the answer does not give the file\'s size');
  if (knownSize !== undefined && size !== knownSize) throw changed();
  if (from !== first || to < from || (to !== last && to !== size - 1) || to >= size) {
    throw new RangeReadError(`bytes ${from}-${to} came for bytes ${first}-${last}`);
  }
  if (bodyLength !== undefined && bodyLength !== to - from + 1) {
    throw new RangeReadError(`${bodyLength} bytes came for bytes ${from}-${to}`);
  }
  return size;
}

// The validator of an answer: a strong ETag, else Last-Modified, else null
// (a weak ETag never matches an If-Range).
function validatorOf(header) {
  const etag = (header('ETag') || '').trim();
  if (etag && !etag.startsWith('W/')) return { name: 'ETag', value: etag };
  const modified = (header('Last-Modified') || '').trim();
  return modified ? { name: 'Last-Modified', value: modified } : null;
}

// Checks the parts of a range answer that say whether it is one: its status,
// the validator and the encoding. `header(name)` reads the answer's headers.
function checkStatus(status, header, validator) {
  if (status === 412) throw changed();
  if (status === 200 && validator) throw changed();
  if (status >= 500 || status === 0) throw passing(`the server answered ${status} to a range request`);
  if (status !== 206) throw new RangeReadError(`the server answered ${status} to a range request`);
  const encoding = (header('Content-Encoding') || '').trim().toLowerCase();
  if (encoding && encoding !== 'identity') {
    throw new RangeReadError(`the server compressed a range answer (Content-Encoding: ${encoding})`);
  }
  if (validator) {
    const value = (header(validator.name) || '').trim();
    if (value && value !== validator.value) throw changed();
  }
}

// Waits `ms` without returning to the event loop (a synchronous read cannot).
function sleepSync(ms) {
  if (ms <= 0) return;
  if (typeof SharedArrayBuffer === 'function') {
    Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
    return;
  }
  const until = performance.now() + ms;
  while (performance.now() < until) { /* the worker has nothing else to do meanwhile */ }
}

function sleep(ms, signal) {
  return new Promise((resolve, reject) => {
    if (signal?.aborted) return reject(signal.reason);
    const timer = setTimeout(resolve, ms);
    signal?.addEventListener('abort', () => { clearTimeout(timer); reject(signal.reason); }, { once: true });
  });
}

// Runs `attempt()` again after each delay while it fails with a passing failure.
async function withRetries(attempt, delays, signal) {
  for (let tries = 0; ; ++tries) {
    try {
      return await attempt();
    } catch (error) {
      if (!error.retry || tries >= delays.length || signal?.aborted) throw error;
      await sleep(delays[tries], signal);
    }
  }
}

function abortError() {
  return new DOMException('The read was stopped', 'AbortError');
}

// A fetch with time-outs: its headers within IDLE_MS; `signal` stops it.
// Resolves to { response, body } where body.read() gives the answer's bytes
// (a byte stream read into one reused buffer of `bufferBytes` where it can),
// ending it after IDLE_MS without a byte or past its total time.
async function timedFetch(fetchImpl, url, headers, { signal, timeouts, totalMs, bufferBytes = 0 }) {
  const stop = new AbortController();
  let why = null;
  const end = (reason) => { why ??= reason; stop.abort(); };
  const onAbort = () => end(abortError());
  if (signal?.aborted) throw abortError();
  signal?.addEventListener('abort', onAbort, { once: true });
  const deadline = performance.now() + totalMs;
  let timer = setTimeout(() => end(passing(`no answer came within ${timeouts.idle / 1000} s`)), timeouts.idle);
  let response;
  try {
    response = await fetchImpl(url, { headers, signal: stop.signal });
  } catch (error) {
    clearTimeout(timer);
    signal?.removeEventListener('abort', onAbort);
    if (why) throw why;
    if (error?.name === 'AbortError') throw error;
    // No answer at all (offline, refused, or another origin's server that
    // does not let the page read it): the page words it by the origin.
    const failure = passing(`the range request failed (${error?.message || error})`);
    failure.network = true;
    throw failure;
  }
  clearTimeout(timer);
  let reader = null, buffer = null;
  const stopped = new Promise((resolve, reject) => stop.signal.addEventListener('abort', () => reject(why), { once: true }));
  stopped.catch(() => {});
  const finish = () => {
    clearTimeout(timer);
    signal?.removeEventListener('abort', onAbort);
  };
  const body = {
    async read() {
      if (!response.body) return { done: true };
      if (!reader) {
        try {
          reader = bufferBytes ? response.body.getReader({ mode: 'byob' }) : response.body.getReader();
          buffer = bufferBytes ? new ArrayBuffer(bufferBytes) : null;
        } catch {
          reader = response.body.getReader();
        }
      }
      if (why) throw why;
      const left = Math.min(timeouts.idle, deadline - performance.now());
      const expired = new Promise((resolve, reject) => {
        timer = setTimeout(() => reject(left < timeouts.idle
          ? passing(`the answer took more than ${Math.round(totalMs / 1000)} s`)
          : passing(`no bytes came for ${timeouts.idle / 1000} s`)), Math.max(0, left));
      });
      try {
        const result = await Promise.race([buffer ? reader.read(new Uint8Array(buffer)) : reader.read(), expired, stopped]);
        if (buffer && result.value) buffer = result.value.buffer;
        if (result.done) finish();
        return result;
      } catch (error) {
        if (error?.retry || error?.name === 'AbortError') {
          this.cancel();
          throw error;
        }
        this.cancel();
        throw passing(`the answer broke off (${error?.message || error})`);
      } finally {
        clearTimeout(timer);
      }
    },
    cancel() {
      finish();
      (reader ? reader.cancel() : response.body?.cancel())?.catch(() => {});
    },
  };
  return { response, body };
}

// Reads a streamed body to its end into one block: exactly `length` bytes
// when given (more is a damaged answer, stopped at once), else at most
// `limit` (more: tooBig). `progress(total)` after each piece.
async function readBody(body, { length, limit, progress = () => {} }) {
  const most = length ?? limit;
  let chunks = [], total = 0;
  try {
    for (;;) {
      const { done, value } = await body.read();
      if (done) break;
      total += value.length;
      if (total > most) {
        body.cancel();
        chunks = null;
        throw length !== undefined ? new RangeReadError(`more than the ${length} bytes asked for came`) : tooBig(limit);
      }
      chunks.push(value);
      progress(total);
    }
  } catch (error) {
    body.cancel();
    throw error;
  }
  const bytes = new Uint8Array(total);
  let at = 0;
  for (const chunk of chunks) bytes.set(chunk, at), at += chunk.length;
  return bytes;
}

function options(settings) {
  return {
    timeouts: { idle: settings.timeouts?.idle ?? IDLE_MS, total: settings.timeouts?.total ?? TOTAL_MS },
    retryDelays: settings.retryDelays ?? RETRY_DELAYS_MS,
  };
}

// Byte ranges of one file on a server. read() is synchronous (the core asks
// for bytes from inside its calls): the worker waits, the page does not.
// stream() reads a long span as it arrives.
export class HttpRanges {
  // `first`: the first answer's bytes, from offset 0; `validator`: its
  // validator or null; `sendIfRange`: whether later requests carry it.
  constructor(url, size, first, { validator = null, sendIfRange = true, fetchImpl = globalThis.fetch,
    ...settings } = {}) {
    this.url = url;
    this.size = size;
    this.first = first;
    this.validator = validator;
    this.sendIfRange = sendIfRange && !!validator;
    this.fetchImpl = fetchImpl;
    Object.assign(this, options(settings));
  }

  // A later request: If-Range, and the same validator as a precondition
  // (If-Match, If-Unmodified-Since), so that a server answers a changed file
  // with a 412 and no body where it can, else with the whole file (a 200,
  // stopped at once when streamed).
  headers(first, last) {
    const headers = { Range: `bytes=${first}-${last}` };
    if (this.sendIfRange) {
      headers['If-Range'] = this.validator.value;
      headers[this.validator.name === 'ETag' ? 'If-Match' : 'If-Unmodified-Since'] = this.validator.value;
    }
    return headers;
  }

  // The time a synchronous request of `length` bytes may take.
  syncTimeout(length) {
    return Math.min(this.timeouts.total, this.timeouts.idle + Math.ceil(length / SLOW_BYTES_PER_S) * 1000);
  }

  read(offset, length) {
    if (offset + length <= this.first.length) return this.first.subarray(offset, offset + length);
    for (let tries = 0; ; ++tries) {
      try {
        return this.readOnce(offset, length);
      } catch (error) {
        if (!error.retry || tries >= this.retryDelays.length) throw error;
        sleepSync(this.retryDelays[tries]);
      }
    }
  }

  readOnce(offset, length) {
    const last = offset + length - 1;
    const xhr = new XMLHttpRequest();
    xhr.open('GET', this.url, false);
    xhr.responseType = 'arraybuffer';
    xhr.timeout = this.syncTimeout(length);
    for (const [name, value] of Object.entries(this.headers(offset, last))) xhr.setRequestHeader(name, value);
    try {
      xhr.send();
    } catch (error) {
      if (error?.name === 'TimeoutError') throw passing(`no answer came within ${xhr.timeout / 1000} s`);
      throw passing(`the range request failed (${error?.message || error})`);
    }
    const header = (name) => xhr.getResponseHeader(name);
    checkStatus(xhr.status, header, this.validator);
    const body = new Uint8Array(xhr.response || new ArrayBuffer(0));
    checkRangeAnswer(offset, last, header('Content-Range'), body.length, this.size);
    return body;
  }

  // The bytes from `at` to `end` (exclusive) as they arrive: resolves to
  // { read() -> { done, value }, cancel() }, pieces of at most `bufferBytes`
  // read into one reused buffer where the stream allows it (each value is
  // used before the next read). The answer is checked before its first
  // byte; a dropped connection, a time-out or a 5xx is asked for again from
  // where it broke off, RETRY_DELAYS_MS.length times in all. More bytes than
  // asked for end it with an error.
  async stream(at, end, signal, bufferBytes = 0) {
    const fileSize = this.size;
    const open = (from) => withRetries(async () => {
      const { response, body } = await timedFetch(this.fetchImpl, this.url, this.headers(from, end - 1), {
        signal, timeouts: this.timeouts, bufferBytes,
        totalMs: this.timeouts.total * Math.max(1, Math.ceil((end - from) / LONG_ANSWER_BYTES)),
      });
      try {
        const header = (name) => response.headers.get(name);
        checkStatus(response.status, header, this.validator);
        checkRangeAnswer(from, end - 1, header('Content-Range'), undefined, fileSize);
      } catch (error) {
        body.cancel();
        throw error;
      }
      return body;
    }, this.retryDelays, signal);
    let body = await open(at), position = at, retriesLeft = this.retryDelays.length;
    return {
      read: async () => {
        for (;;) {
          try {
            const result = await body.read();
            if (result.done) {
              if (position < end) throw passing(`the answer ended at byte ${position} of ${at}-${end - 1}`);
              return result;
            }
            if (position + result.value.length > end) {
              body.cancel();
              throw new RangeReadError(`more than the ${end - at} bytes asked for came`);
            }
            position += result.value.length;
            return result;
          } catch (error) {
            if (!error.retry || retriesLeft <= 0 || signal?.aborted) throw error;
            await sleep(this.retryDelays[this.retryDelays.length - retriesLeft], signal);
            --retriesLeft;
            body = await open(position);
          }
        }
      },
      cancel: () => body.cancel(),
    };
  }
}

// A document downloaded whole, read from memory.
export class MemoryRanges {
  constructor(bytes) {
    this.bytes = bytes;
    this.size = bytes.length;
  }

  read(offset, length) {
    if (offset + length > this.size) throw new RangeReadError('a read past the end of the document');
    return this.bytes.subarray(offset, offset + length);
  }
}

// Reads the rest of an answer into one block, at most `limit` bytes.
async function downloadWhole(response, body, limit, progress) {
  const declared = Number(response.headers.get('Content-Length'));
  if (declared > limit) {
    body.cancel();
    throw tooBig(limit);
  }
  return readBody(body, { limit, progress: (total) => progress(total, declared || 0) });
}

// Whether later requests to `url` may carry If-Range: same-origin only
// (cross-origin it is a header the server would have to allow first).
function sameOrigin(url) {
  const here = globalThis.location?.origin;
  if (!here || here === 'null') return true;
  try {
    return new URL(url).origin === here;
  } catch {
    return false;
  }
}

// Opens `src`: ranges when the server gives them, else one download.
// `fetchImpl` is fetch (replaceable for tests, as are `timeouts` { idle,
// total } and `retryDelays`). Resolves to { source, ranged }.
export async function openSource(src, { downloadLimit = DEFAULT_DOWNLOAD_LIMIT, progress = () => {},
  fetchImpl = globalThis.fetch, ...settings } = {}) {
  const url = String(src);
  const { timeouts, retryDelays } = options(settings);
  const scheme = url.slice(0, url.indexOf(':') + 1).toLowerCase();
  const wholeFile = scheme === 'blob:' || scheme === 'data:';
  // Unbounded in total (a download may be long); IDLE_MS without a byte ends it.
  const untimed = { signal: null, timeouts, totalMs: Infinity };
  return withRetries(async () => {
    if (wholeFile) {
      const { response, body } = await timedFetch(fetchImpl, url, {}, untimed);
      if (!response.ok) throw loadError(response);
      return { source: new MemoryRanges(await downloadWhole(response, body, downloadLimit, progress)), ranged: false };
    }
    const { response, body } = await timedFetch(fetchImpl, url, { Range: `bytes=0-${FIRST_RANGE_BYTES - 1}` }, untimed);
    if (response.status === 206) {
      const header = (name) => response.headers.get(name);
      let size, first;
      try {
        checkStatus(206, header, null);
        size = checkRangeAnswer(0, FIRST_RANGE_BYTES - 1, header('Content-Range'), undefined);
      } catch (error) {
        body.cancel();
        throw error;
      }
      first = await readBody(body, { length: Math.min(FIRST_RANGE_BYTES, size) });
      checkRangeAnswer(0, FIRST_RANGE_BYTES - 1, header('Content-Range'), first.length);
      const base = response.url || url;
      return {
        source: new HttpRanges(base, size, first, { validator: validatorOf(header), sendIfRange: sameOrigin(base),
          fetchImpl, timeouts, retryDelays }),
        ranged: true,
      };
    }
    if (!response.ok) {
      body.cancel();
      throw loadError(response);
    }
    return { source: new MemoryRanges(await downloadWhole(response, body, downloadLimit, progress)), ranged: false };
  }, retryDelays);
}
