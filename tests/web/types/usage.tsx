// A React 19 component with the element (tsc --strict, jsx: react-jsx).
import { useRef } from 'react';
import 'htf-viewer';
import type { HtfViewer } from 'htf-viewer';

export function Plan({ src }: { src: string }) {
  const viewer = useRef<HtfViewer>(null);
  return (
    <htf-viewer
      ref={viewer}
      src={src}
      fit="window"
      frame-width={2}
      toolbar="zoom-in zoom-out print"
      loading="lazy"
      style={{ width: 600, height: 400 }}
      onhtf-load={(event) => console.log(event.detail.hotspots)}
      onhtf-navigate={(event) => {
        event.preventDefault();
        viewer.current?.zoomToHotspot(event.detail.ref);
      }}
    >
      <b slot="error">The plan is not available.</b>
    </htf-viewer>
  );
}

// @ts-expect-error: fit takes the four fits only
export const wrong = <htf-viewer fit="sideways" />;
