// Requests to kivo with a time limit, and how long kivo has not answered. A
// kivo that is stopped, frozen or behind a network that drops packets never
// closes the connection: without a limit a request would wait for ever and the
// page would go on showing the last state it heard of.

// A kivo silent for this long is shown as not answering, whatever the reason.
export const NO_ANSWER_AFTER_MS = 3000;

export class NoAnswer extends Error {}
// kivo answered, with a status other than 200.
export class HttpError extends Error {}

export class Connection {
  constructor(now = Date.now()) {
    this.lastAnswer = now;  // local time of the last answer, or of the page's start
    this.failing = false;  // the last request got no answer
  }

  // The body of `url` as text, within `timeoutMs`; throws NoAnswer when
  // kivo cannot be reached or does not answer in time, and HttpError naming
  // the status for an answer other than 200.
  async text(url, timeoutMs) {
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), timeoutMs);
    try {
      const response = await fetch(url, { cache: 'no-store', signal: abort.signal });
      const body = await response.text();
      this.answered();
      if (!response.ok) throw new HttpError(`${url.split('?')[0]}: HTTP ${response.status}`);
      return body;
    } catch (error) {
      if (error instanceof HttpError) throw error;
      this.failing = true;
      throw new NoAnswer(abort.signal.aborted ? `no answer within ${timeoutMs / 1000} s` : 'cannot reach kivo');
    } finally {
      clearTimeout(timer);
    }
  }

  answered(now = Date.now()) {
    this.lastAnswer = now;
    this.failing = false;
  }

  // Whole seconds without an answer when kivo counts as not answering, else null.
  silentSeconds(now = Date.now()) {
    const silent = now - this.lastAnswer;
    if (!this.failing && silent < NO_ANSWER_AFTER_MS) return null;
    return Math.max(1, Math.floor(silent / 1000));
  }
}
