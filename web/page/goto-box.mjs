// The "go to" box above the canvas: a stave and a chip, or a chip, chip
// column and chip row, zoomed to on that stave's hit map. Asks for the zoom
// with a kivo:goto event, as the quality panel's rows do.
import { parsePlace } from './pixels.mjs';

const form = document.getElementById('goto');
const problem = document.getElementById('goto-problem');

form.addEventListener('submit', (event) => {
  event.preventDefault();
  const stave = Number(document.getElementById('goto-stave').value);
  const place = parsePlace(document.getElementById('goto-place').value);
  problem.textContent = place.problem ?? '';
  if (place.rectangle)
    document.dispatchEvent(new CustomEvent('kivo:goto', { detail: { stave, rectangle: place.rectangle } }));
});
