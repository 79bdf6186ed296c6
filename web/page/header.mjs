// What the page header says: the run and events of the canvas on screen, how
// data are arriving in kivo (its rate, its last event, live, waiting, ended,
// finished) and whether kivo answers at all. One function of what the page
// knows, so that Node can check every case; display.mjs writes it out.

export const formatCount = (n) => Math.round(n).toLocaleString('en-US');

const clock = (ms, withSeconds) =>
  new Date(ms).toLocaleTimeString('en-GB', withSeconds ? {} : { hour: '2-digit', minute: '2-digit' });

// `activity` as kivo last reported it (null when it reports none), `canvas`
// the { run, events } on screen (null before the first), `silentSeconds` how
// long kivo has not answered (null while it answers), `drawError` why the
// last canvas could not be drawn. Returns the texts of the header's parts and
// `flow`: live, waiting, ended, finished, idle, first (no canvas yet),
// no-answer or error.
export function describeHeader({ activity, canvas, silentSeconds = null, drawError = null }) {
  const parts = { run: '', events: '', rate: '', lastEvent: '', state: '', kind: '', flow: '' };
  if (canvas) {
    parts.run = `Run ${canvas.run}`;
    parts.events = `${formatCount(canvas.events)} events`;
  }
  if (activity) {
    parts.rate = `${formatCount(activity.rate)} events/s`;
    parts.lastEvent = activity.last_event ? `last event ${clock(activity.last_event, true)}` : 'no event yet';
  }
  Object.assign(parts, flowOf(activity, canvas, silentSeconds, drawError));
  if (parts.flow === 'no-answer') parts.rate = '';
  const stopped = ['waiting', 'ended', 'finished'].includes(parts.flow);
  if (canvas && stopped && Number.isFinite(activity?.monitor_events))
    parts.events = `canvas at ${formatCount(canvas.events)} of ${formatCount(activity.monitor_events)} events`;
  return parts;
}

function flowOf(activity, canvas, silentSeconds, drawError) {
  if (silentSeconds !== null)
    return { flow: 'no-answer', kind: 'error', state: `no answer from kivo for ${silentSeconds} s` };
  if (drawError) return { flow: 'error', kind: 'error', state: `display error: ${drawError}` };
  if (!canvas) return { flow: 'first', kind: 'waiting', state: 'waiting for first canvas' };
  if (!activity) return { flow: 'live', kind: 'live', state: 'live' };
  if (activity.ended)
    return { flow: 'ended', kind: 'finished', state: `run ${activity.ended.run} ended ${clock(activity.ended.at, false)}` };
  switch (activity.state) {
    case 'live':
      return { flow: 'live', kind: 'live', state: 'live' };
    case 'waiting':
      return { flow: 'waiting', kind: 'waiting', state: `waiting: no event for ${Math.round(activity.idle)} s` };
    case 'finished':
      return { flow: 'finished', kind: 'finished', state: 'finished: all sources read' };
    case 'idle':
      return { flow: 'idle', kind: 'finished', state: 'idle: no source open' };
    default:
      return { flow: 'waiting', kind: 'waiting', state: String(activity.state) };
  }
}
