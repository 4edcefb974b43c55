"""scripts/web-demo [--headless]: examples/index.html in Debian's chromium,
served from 127.0.0.1 with the element's files of build/web beside it by our
range server (rangeserver.py: it answers range requests, as production
servers do, so the element reads only the parts of a document it needs).

With a display it opens a window (point at a room, click it; close the
window to end). Headless (or without a display) it hovers the living room,
saves build/web/demo.png with its outline and tooltip, clicks it and prints
the URL the page then requests. With --touch OUT.png it shows the page as a
tablet would (device scale factor 2, touch), points at the kitchen in the
room list beside the plan and saves the element with the outlined room and
the list to OUT.png. With --overview OUT.png it zooms into the plan, moves the
view with a click on the overview, presses "Copy link to this view", prints
the link and saves the element with its overview and the link to OUT.png."""

import os
import sys
import time

from browser import Browser
from rangeserver import RangeServer


def main():
    root, build = sys.argv[1], sys.argv[2]
    headless = '--headless' in sys.argv[3:] or not os.environ.get('DISPLAY')
    examples, web = os.path.join(root, 'examples'), os.path.join(build, 'web')
    with RangeServer(examples, fallbacks=[web]) as server, Browser(headless=headless, width=640, height=560) as browser:
        page = browser.open(server.url('index.html'))
        if '--touch' in sys.argv[3:]:
            return touch_picture(page, sys.argv[sys.argv.index('--touch') + 1])
        if '--overview' in sys.argv[3:]:
            return overview_picture(page, sys.argv[sys.argv.index('--overview') + 1])
        if not headless:
            print('web-demo: %s in chromium; point at a room, click it; close the window to end'
                  % server.url('index.html'))
            while browser._process.poll() is None:
                time.sleep(0.5)
            return 0
        page.wait_for('document.querySelector("htf-viewer") && document.querySelector("htf-viewer").viewState '
                      '&& document.querySelector("htf-viewer").viewState.scaledWidth > 0', timeout=30)
        where = page.evaluate('''(() => {
            const v = document.querySelector('htf-viewer'), s = v.viewState, h = s.hotspots[0];
            const r = v.shadowRoot.querySelector('canvas.picture').getBoundingClientRect();
            return [r.left + (h.left + h.right) / 2, r.top + (h.top + h.bottom) / 2,
                    Math.round(v.getBoundingClientRect().bottom + 16)]; })()''')
        page.move(where[0], where[1])
        page.wait_for('''document.querySelector('htf-viewer').shadowRoot.querySelector('.tip').style.display
                         === 'block' ''', timeout=10)
        page.evaluate('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))')
        png = os.path.join(web, 'demo.png')
        page.save_screenshot(png, (0, 0, 600, where[2]))
        server.forget()
        page.click(where[0], where[1])
        deadline = time.monotonic() + 10
        while not server.requested('/servlets/') and time.monotonic() < deadline:
            time.sleep(0.05)
        for request in server.requested('/servlets/'):
            print(request)
        print('web-demo: the screenshot shows the floor plan, the outlined living room and its tooltip: %s' % png)
        return 0 if server.requested('/servlets/') else 1


def touch_picture(page, out):
    page.emulate(640, 560, ratio=2, touch=True)
    page.wait_for('document.querySelector("htf-viewer") && document.querySelector("htf-viewer").view', timeout=30)
    row = page.evaluate('''(() => { const r = document.querySelector('#rooms li[data-hotspot="kitchen"]')
        .getBoundingClientRect(); return [r.left + 10, r.top + r.height / 2]; })()''')
    page.move(row[0], row[1])
    page.wait_for('document.querySelector(\'#rooms li[data-hotspot="kitchen"]\').hasAttribute("data-hotspot-active")')
    page.evaluate('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))')
    box = page.evaluate('''(() => { const v = document.querySelector('htf-viewer').getBoundingClientRect();
        const l = document.getElementById('rooms').getBoundingClientRect();
        return [Math.floor(v.left) - 8, Math.floor(v.top) - 8, Math.ceil(l.right - v.left) + 16,
                Math.ceil(Math.max(v.bottom, l.bottom) - v.top) + 16]; })()''')
    page.save_screenshot(out, tuple(box))
    print('web-demo: the element at device scale factor 2, the kitchen outlined from the list: %s' % out)
    return 0


def overview_picture(page, out):
    page.emulate(640, 800)   # the button below the element within the window
    page.wait_for('document.querySelector("htf-viewer") && document.querySelector("htf-viewer").complete', timeout=30)
    page.evaluate('(() => { const v = document.querySelector("htf-viewer"); for (let i = 0; i < 10; ++i) '
                  'v.command("zoom-in"); })()')
    page.wait_for('''(() => { const o = document.querySelector('htf-viewer').shadowRoot.querySelector('.overview');
        return o && o.style.display === 'block'; })()''', timeout=10)
    # A click on the overview, towards the bathroom in the bottom right.
    at = page.evaluate('''(() => { const r = document.querySelector('htf-viewer').shadowRoot
        .querySelector('.overview canvas').getBoundingClientRect();
        return [r.left + r.width * 0.8, r.top + r.height * 0.7]; })()''')
    page.click(at[0], at[1])
    page.wait_for('document.querySelector("htf-viewer").complete', timeout=10)
    button = page.evaluate('''(() => { const r = document.getElementById('copy-link').getBoundingClientRect();
        return [r.left + r.width / 2, r.top + r.height / 2]; })()''')
    page.click(button[0], button[1])
    link = page.wait_for('document.getElementById("link").textContent', timeout=10)
    page.evaluate('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))')
    box = page.evaluate('''(() => { const v = document.querySelector('htf-viewer').getBoundingClientRect();
        const l = document.getElementById('link').getBoundingClientRect();
        return [Math.floor(v.left) - 8, Math.floor(v.top) - 8, Math.ceil(v.width) + 16,
                Math.ceil(l.bottom - v.top) + 16]; })()''')
    page.save_screenshot(out, tuple(box))
    print('web-demo: the link to this view: %s' % link)
    print('web-demo: the element zoomed in with its overview and the copied link: %s' % out)
    return 0


if __name__ == '__main__':
    sys.exit(main())
