// The element from its package; Vite emits its core, worker and pictures.
import 'htf-viewer';
// The document, emitted by Vite beside the app.
import plan from '../floorplan.htf?url';

const viewer = document.getElementById('plan');
const status = document.getElementById('status');
viewer.addEventListener('htf-load', (event) => {
  status.textContent = `${event.detail.hotspots} rooms, ${event.detail.width} × ${event.detail.height} pixels`;
});
viewer.addEventListener('htf-navigate', (event) => {
  event.preventDefault();
  status.textContent = `${event.detail.text || event.detail.ref}: ${event.detail.url}`;
});
viewer.addEventListener('htf-error', (event) => {
  status.textContent = `${event.detail.code}${event.detail.status ? ` ${event.detail.status}` : ''}: ${event.detail.message}`;
});
viewer.src = plan;
