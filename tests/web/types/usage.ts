// A page's script against the package's types (tsc --strict): every use
// here must type-check, and the lines marked @ts-expect-error must not.
import 'htf-viewer';
import { HtfViewer, setBasePath, type HtfErrorDetail } from 'htf-viewer';

setBasePath('/static/htf-viewer/');
setBasePath(null);

const viewer = document.querySelector('htf-viewer');
if (viewer) {
  viewer.src = 'plan.htf';
  viewer.loading = 'lazy';
  viewer.toolbar = 'zoom-in zoom-out';
  viewer.strings = { zoomIn: 'Vergrößern' };
  const scale: number | undefined = viewer.view?.scale;
  console.log(scale, viewer.hotspots.map((h) => h.ref));
  viewer.addEventListener('htf-load', (event) => console.log(event.detail.width, event.detail.timings.picture));
  // @ts-expect-error: no such tool
  viewer.tool = 'scissors';
}

// The events bubble to the document and window, typed there too.
document.addEventListener('htf-navigate', (event) => {
  const url: string = event.detail.url;
  if (url.startsWith('http:')) event.preventDefault();
});
window.addEventListener('htf-error', (event) => {
  const detail: HtfErrorDetail = event.detail;
  const status: number | null = detail.status;
  if (detail.code === 'cors' || detail.code === 'not-found') console.log(detail.url, status);
  // @ts-expect-error: not one of the codes
  if (detail.code === 'missing') console.log('never');
});

const made: HtfViewer = document.createElement('htf-viewer');
made.fit = 'window';
