// Times the viewer window on large documents in a 1000 x 800 client area of
// a real window: full paints at fit window, 1:1 and the largest zoom (the
// first after a zoom change, which builds the tile cache, apart from the
// repeated ones), zoom steps, hover repaints, lens moves and pan steps. Every
// figure is also given as a ratio to one unscaled blit of a 1000 x 800 24-bit
// DIB into the same window, the cost of showing the window's pixels at all;
// the viewer aims at 2 x. A breakdown times the tile renderer alone (tile
// building against copying cached tiles) into a memory surface. Documents,
// each with a few hotspots, are generated once into the temporary directory.
//
// The hotspot rows time a 2000 x 1500 photo with 0, 10 000 and 100 000
// hotspots: opening it and its first picture against the reader alone
// reading the same file (the aim: within 1.2 x), and pointer moves, a zoom
// step and a line scroll with 100 000 hotspots against the same step without
// them (the aim: within 2 x). The soak opens that photo in 20 views of one
// process, each zoomed in and scrolled all over, and prints the tiles' total
// and the process's peak working set.
// Prints figures; asserts nothing.
//
//   bench_view [runs] [documents|hotspots|soak]
// With a part named only that part runs (the peak working set, which cannot
// be reset, is then that part's own).
#include "BenchDocuments.h"
#include "BenchTimer.h"
#include "CommandIds.h"
#include "GlobalMemory.h"
#include "HotspotList.h"
#include "HtfDocument.h"
#include "ImageRenderer.h"
#include "TiffFixture.h"
#include "TiffView.h"
#include "UserMessage.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kClientWidth = 1000;
constexpr int kClientHeight = 800;
constexpr double kTarget = 2.0;

// A few hotspots: the first lies in the part that 1:1 shows (the top-left
// corner), the others are spread over the image.
std::vector<FixtureHotspot> benchHotspots(uint32_t w, uint32_t h)
{
    const int32_t W = int32_t(w), H = int32_t(h);
    return {
        {"1001", u"Title block", 200, 150, 700, 500},
        {"1002", u"Middle part", W / 2 - 400, H / 2 - 300, W / 2 + 400, H / 2 + 300},
        {"1003", u"Lower right detail", W - 1500, H - 1200, W - 300, H - 300},
        {"1004", u"Left margin note", 50, H / 3, 900, H / 3 + 700},
    };
}

double seconds(const std::function<void()>& work)
{
    const double start = nowSeconds();
    work();
    return nowSeconds() - start;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// One full paint as the system asks for it.
void paintNow(HWND window) { RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

LRESULT CALLBACK hostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

// A borderless top-level window at the screen's corner holding the view.
class HostWindow {
public:
    HostWindow(int width, int height)
    {
        static const char kClass[] = "RozeradoBenchViewHost";
        WNDCLASSA wc = {};
        if (!GetClassInfoA(GetModuleHandleA(nullptr), kClass, &wc)) {
            wc.lpfnWndProc = hostProcedure;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
            wc.lpszClassName = kClass;
            RegisterClassA(&wc);
        }
        window_ = CreateWindowExA(0, kClass, "bench_view", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
                                  height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        pump();
    }
    ~HostWindow()
    {
        if (IsWindow(window_))
            DestroyWindow(window_);
        pump();
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND hwnd() const { return window_; }

private:
    HWND window_ = nullptr;
};

// A 24-bit bottom-up DIB of the window's size with a colourful pattern.
struct WindowSizedDib {
    BITMAPINFO info = {};
    std::vector<uint8_t> bits;
    WindowSizedDib()
    {
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = kClientWidth;
        info.bmiHeader.biHeight = kClientHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        const size_t stride = size_t((kClientWidth * 24 + 31) / 32) * 4;
        bits.resize(stride * kClientHeight);
        for (size_t i = 0; i < bits.size(); ++i)
            bits[i] = uint8_t(i * 7 + i / stride * 3);
    }
};

// The unit of every ratio: SetDIBitsToDevice of the window-sized DIB into
// the window's device context (median), and BitBlt from a memory bitmap.
struct BlitUnit {
    double setDIBits = 0;
    double bitBlt = 0;
};

BlitUnit measureBlit(HWND window, int runs)
{
    WindowSizedDib dib;
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kClientWidth, kClientHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetDIBitsToDevice(memory, 0, 0, kClientWidth, kClientHeight, 0, 0, 0, kClientHeight, dib.bits.data(),
                      &dib.info, DIB_RGB_COLORS);
    std::vector<double> set, blt;
    for (int i = 0; i < std::max(runs, 5) * 2; ++i) {
        set.push_back(seconds([&] {
            SetDIBitsToDevice(dc, 0, 0, kClientWidth, kClientHeight, 0, 0, 0, kClientHeight, dib.bits.data(),
                              &dib.info, DIB_RGB_COLORS);
            GdiFlush();
        }));
        blt.push_back(seconds([&] {
            BitBlt(dc, 0, 0, kClientWidth, kClientHeight, memory, 0, 0, SRCCOPY);
            GdiFlush();
        }));
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return {median(set), median(blt)};
}

// One row of the table: the first timing and the ones after it.
struct Row {
    std::string what;
    double first = 0;
    std::vector<double> rest;
};

class ViewBench {
public:
    ViewBench(const std::string& path, int runs) : runs_(runs), host_(kClientWidth + 2, kClientHeight + 2)
    {
        // The view has a border of one pixel on each side.
        const RECT r = {0, 0, kClientWidth + 2, kClientHeight + 2};
        view_.create(host_.hwnd(), r);
        window_ = view_.hwnd();
        pump();
        unit_ = measureBlit(window_, runs);
        const std::wstring wide(path.begin(), path.end());
        openSeconds_ = seconds([&] {
            view_.setImageFile(wide.c_str());
            pump();
        });
    }

    bool loaded() const { return view_.image() != nullptr; }
    double openSeconds() const { return openSeconds_; }
    const BlitUnit& unit() const { return unit_; }
    const std::vector<Row>& rows() const { return rows_; }
    TiffView& view() { return view_; }

    void run()
    {
        // Fit window.
        hiddenThen([&] {
            command(ID_ACTUAL_SIZE);
            command(ID_FIT_WINDOW);
        });
        const std::string fit = "fit window (" + scaleText() + ")";
        fitSize_ = {view_.scaledWidth(), view_.scaledHeight()};
        fullPaints("full paint, " + fit);
        hover(fit);
        lens(fit);
        zoomStep(fit, ID_FIT_WINDOW);

        // 1:1.
        hiddenThen([&] { command(ID_ACTUAL_SIZE); });
        actualSize_ = {view_.scaledWidth(), view_.scaledHeight()};
        fullPaints("full paint, 1:1");
        hover("1:1");
        lens("1:1");
        pan("1:1");
        zoomStep("1:1", ID_ACTUAL_SIZE);
        hiddenThen([&] { command(ID_ACTUAL_SIZE); });
        paintNow(window_);
        pump();
        stepParts();

        // The largest zoom.
        hiddenThen([&] {
            command(ID_ACTUAL_SIZE);
            for (int i = 0; i < 100 && view_.scale() < view_.maxScale(); ++i)
                command(ID_ZOOM_IN);
        });
        maxSize_ = {view_.scaledWidth(), view_.scaledHeight()};
        fullPaints("full paint, max zoom (" + scaleText() + ")");
    }

    SIZE fitSize() const { return fitSize_; }
    SIZE actualSize() const { return actualSize_; }
    SIZE maxSize() const { return maxSize_; }

private:
    void command(int id) { view_.onCommand(id); }

    std::string scaleText() const
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.4g", view_.scale());
        return text;
    }

    // Runs `work` with the window hidden, so that no paint happens, then
    // shows the window again without painting it: the next paint is the
    // first at the new zoom.
    void hiddenThen(const std::function<void()>& work)
    {
        ShowWindow(host_.hwnd(), SW_HIDE);
        work();
        ShowWindow(host_.hwnd(), SW_SHOWNOACTIVATE);
    }

    void add(const std::string& what, double first, std::vector<double> rest)
    {
        rows_.push_back({what, first, std::move(rest)});
    }

    void fullPaints(const std::string& what)
    {
        const double first = seconds([&] { paintNow(window_); });
        std::vector<double> rest;
        for (int i = 0; i < runs_; ++i)
            rest.push_back(seconds([&] { paintNow(window_); }));
        pump();
        add(what, first, rest);
    }

    // Sets the pointer to a client point of the view and sends the message,
    // as the system would deliver it; returns when the view has handled it
    // (its repaints included).
    void pointer(POINT p, UINT message, WPARAM keys = 0)
    {
        POINT screen = p;
        ClientToScreen(window_, &screen);
        SetCursorPos(screen.x, screen.y);
        SendMessageA(window_, message, keys, MAKELPARAM(p.x, p.y));
    }

    // The client point at the middle of the first hotspot, and a point of
    // the view that lies in no hotspot.
    bool hoverPoints(POINT& on, POINT& off) const
    {
        if (view_.hotspots().empty())
            return false;
        const int hp = GetScrollPos(window_, SB_HORZ), vp = GetScrollPos(window_, SB_VERT);
        const ViewHotspot& h = *view_.hotspots().front();
        on = {(h.pixelLeft + h.pixelRight) / 2 - hp, (h.pixelTop + h.pixelBottom) / 2 - vp};
        RECT client;
        GetClientRect(window_, &client);
        for (POINT candidate : {POINT{client.right - 5, client.bottom - 5}, POINT{client.right / 2, client.bottom - 5},
                                POINT{5, client.bottom - 5}, POINT{client.right - 5, 5}}) {
            bool inside = false;
            for (const auto& other : view_.hotspots())
                inside = inside || other->contains(candidate.x + hp, candidate.y + vp);
            if (!inside) {
                off = candidate;
                return true;
            }
        }
        return false;
    }

    // The pointer moves onto a hotspot (outline only) and off it (a normal
    // repaint), in turns.
    void hover(const std::string& where)
    {
        POINT on, off;
        if (!hoverPoints(on, off)) {
            std::fprintf(stderr, "bench_view: no hotspot to hover at %s\n", where.c_str());
            return;
        }
        pointer(off, WM_MOUSEMOVE);
        pump();
        std::vector<double> onTimes, offTimes;
        for (int i = 0; i < runs_; ++i) {
            onTimes.push_back(seconds([&] { pointer(on, WM_MOUSEMOVE); }));
            if (view_.currentHotspot() == nullptr)
                std::fprintf(stderr, "bench_view: the pointer at %ld,%ld found no hotspot\n", on.x, on.y);
            pump();
            offTimes.push_back(seconds([&] { pointer(off, WM_MOUSEMOVE); }));
            pump();
        }
        add("hover onto a hotspot, " + where, onTimes.front(), {onTimes.begin() + 1, onTimes.end()});
        add("hover off it, " + where, offTimes.front(), {offTimes.begin() + 1, offTimes.end()});
    }

    // A magnifier drag: the button goes down (first lens drawing), the
    // pointer moves in small steps, the button goes up.
    void lens(const std::string& where)
    {
        command(ID_MAGNIFIER);
        RECT client;
        GetClientRect(window_, &client);
        std::vector<double> downs, moves, ups;
        for (int drag = 0; drag < 3; ++drag) {
            POINT p = {client.right / 2 - 60, client.bottom / 2 - 40};
            downs.push_back(seconds([&] { pointer(p, WM_LBUTTONDOWN, MK_LBUTTON); }));
            for (int i = 0; i < std::max(runs_, 2); ++i) {
                p.x += 6, p.y += 4;
                moves.push_back(seconds([&] { pointer(p, WM_MOUSEMOVE, MK_LBUTTON); }));
            }
            ups.push_back(seconds([&] { pointer(p, WM_LBUTTONUP); }));
            if (view_.lensActive())
                std::fprintf(stderr, "bench_view: the lens is still active after the button went up\n");
            pump();
        }
        command(ID_MAGNIFIER);   // back to the pointer
        pump();
        add("lens: button down, " + where, downs.front(), {downs.begin() + 1, downs.end()});
        add("lens move, " + where, moves.front(), {moves.begin() + 1, moves.end()});
        add("lens: button up, " + where, ups.front(), {ups.begin() + 1, ups.end()});
    }

    // A pan drag in 30-pixel steps (the image follows the pointer to the left).
    void pan(const std::string& where)
    {
        command(ID_PAN);
        POINT p = {kClientWidth / 2 + 200, kClientHeight / 2};
        pointer(p, WM_LBUTTONDOWN, MK_LBUTTON);
        if (!view_.panning())
            std::fprintf(stderr, "bench_view: the view did not start panning\n");
        const int before = GetScrollPos(window_, SB_HORZ);
        std::vector<double> steps;
        for (int i = 0; i < std::max(runs_, 2); ++i) {
            p.x -= 30;
            steps.push_back(seconds([&] { pointer(p, WM_MOUSEMOVE, MK_LBUTTON); }));
        }
        if (GetScrollPos(window_, SB_HORZ) == before)
            std::fprintf(stderr, "bench_view: panning did not scroll\n");
        pointer(p, WM_LBUTTONUP);
        command(ID_PAN);   // back to the pointer
        pump();
        add("pan step 30 px, " + where, steps.front(), {steps.begin() + 1, steps.end()});
    }

    // One zoom-in step from the state that `reset` brings back (painted and
    // settled before each step).
    void zoomStep(const std::string& where, int reset)
    {
        std::vector<double> steps;
        for (int i = 0; i < std::max(runs_ / 2, 2); ++i) {
            hiddenThen([&] { command(reset); });
            paintNow(window_);
            pump();
            steps.push_back(seconds([&] { command(ID_ZOOM_IN); }));
            pump();
        }
        add("zoom step (ID_ZOOM_IN) from " + where, steps.front(), {steps.begin() + 1, steps.end()});
    }

    // The parts of a pan step and of a zoom step at 1:1, timed one by one
    // through the view's public layout functions and the calls they make.
    void stepParts()
    {
        std::vector<double> oneBar, bothBars, rects, paint, bars, paintAfterBars;
        for (int i = 0; i < runs_; ++i) {
            const int h = GetScrollPos(window_, SB_HORZ) + (i % 2 ? -30 : 30), v = GetScrollPos(window_, SB_VERT);
            oneBar.push_back(seconds([&] { SetScrollPos(window_, SB_HORZ, h, TRUE); }));
            bothBars.push_back(seconds([&] {
                SetScrollPos(window_, SB_HORZ, h, TRUE);
                SetScrollPos(window_, SB_VERT, v, TRUE);
            }));
            rects.push_back(seconds([&] { view_.updateTipRects(); }));
            paint.push_back(seconds([&] { paintNow(window_); }));
            bars.push_back(seconds([&] {
                SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
                view_.updateScrollBars();
                SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
            }));
            paintAfterBars.push_back(seconds([&] { paintNow(window_); }));
            pump();
        }
        auto addParts = [&](const char* what, const std::vector<double>& t) {
            add(std::string("  part: ") + what, t.front(), {t.begin() + 1, t.end()});
        };
        addParts("SetScrollPos, one bar redrawn", oneBar);
        addParts("SetScrollPos, both bars redrawn", bothBars);
        addParts("tip rectangles", rects);
        addParts("repaint, cached tiles", paint);
        addParts("updateScrollBars in WM_SETREDRAW FALSE", bars);
        addParts("the repaint after it (frame included)", paintAfterBars);
    }

    int runs_;
    HostWindow host_;
    TiffView view_{nullptr};
    HWND window_ = nullptr;
    BlitUnit unit_;
    double openSeconds_ = 0;
    std::vector<Row> rows_;
    SIZE fitSize_ = {}, actualSize_ = {}, maxSize_ = {};
};

const char* verdict(double ratio) { return ratio <= kTarget ? "ok" : "MISS"; }

void printRows(const ViewBench& bench)
{
    const double unit = bench.unit().setDIBits;
    std::printf("  %-50s %9s %7s %4s  %9s %7s %4s %9s\n", "", "first ms", "x blit", "", "median ms", "x blit", "",
                "max ms");
    for (const Row& row : bench.rows()) {
        std::printf("  %-50s %9.2f %7.2f %-4s", row.what.c_str(), row.first * 1e3, row.first / unit,
                    verdict(row.first / unit));
        if (!row.rest.empty()) {
            const double m = median(row.rest);
            const double worst = *std::max_element(row.rest.begin(), row.rest.end());
            std::printf("  %9.2f %7.2f %-4s %9.2f", m * 1e3, m / unit, verdict(m / unit), worst * 1e3);
        }
        std::printf("\n");
    }
}

// The tile renderer alone, drawing the window's area into a memory surface
// compatible with the window: the first drawing at a size builds the tiles,
// the next ones copy them. Also one lens-sized stretched drawing.
void printRendererBreakdown(ViewBench& bench, int runs)
{
    HWND window = bench.view().hwnd();
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateCompatibleBitmap(windowDc, kClientWidth, kClientHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const double unit = bench.unit().setDIBits;
    const DibHandle image = bench.view().image();
    const struct {
        const char* name;
        SIZE size;
    } sizes[] = {{"fit window", bench.fitSize()}, {"1:1", bench.actualSize()}, {"max zoom", bench.maxSize()}};
    std::printf("  tile renderer alone into a memory surface (ms, x blit):\n");
    for (const auto& s : sizes) {
        ImageRenderer renderer;
        renderer.prepare(image);   // as the view does when the document is set
        const RECT doc = {0, 0, std::min<LONG>(kClientWidth, s.size.cx), std::min<LONG>(kClientHeight, s.size.cy)};
        const double build = seconds([&] { renderer.draw(memory, 0, 0, doc, image, s.size.cx, s.size.cy); });
        std::vector<double> cached;
        for (int i = 0; i < runs; ++i)
            cached.push_back(
                seconds([&] { renderer.draw(memory, 0, 0, doc, image, s.size.cx, s.size.cy); }));
        const double copy = median(cached);
        std::printf("    %-10s %5ldx%-5ld  tiles built %8.2f (%6.2f)  cached tiles copied %7.2f (%5.2f)  %zu tiles\n",
                    s.name, doc.right, doc.bottom, build * 1e3, build / unit, copy * 1e3, copy / unit,
                    renderer.cachedTiles());
    }
    {
        ImageRenderer renderer;
        const double t = bench.fitSize().cx > 0 ? 2.0 * bench.fitSize().cx / bench.view().imageWidth() : 1.0;
        const RECT dest = {0, 0, MagnifierLens::kWidth, MagnifierLens::kHeight};
        const RECT source = {0, 0, std::min<LONG>(bench.view().imageWidth(), LONG(MagnifierLens::kWidth / t)),
                             std::min<LONG>(bench.view().imageHeight(), LONG(MagnifierLens::kHeight / t))};
        std::vector<double> times;
        for (int i = 0; i < runs; ++i)
            times.push_back(seconds([&] { renderer.drawStretched(memory, dest, image, source); }));
        std::printf("    lens picture at twice the fit scale (%ldx%ld source pixels): %.2f ms (%.2f)\n",
                    source.right, source.bottom, median(times) * 1e3, median(times) / unit);
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
}

// The catalogue photo with `count` hotspots (a fixed list for the one-hotspot
// comparison), generated once.
bool hotspotDocument(int count, bool firstOnly, std::string& path)
{
    std::string file = "rozerado-benchview-photo2000-" + std::to_string(count) + (firstOnly ? "-first" : "") + ".htf";
    return benchDocument(file.c_str(), [count, firstOnly] {
        TiffFixture f = cataloguePhoto();
        std::vector<FixtureHotspot> spots = gridHotspots(count, f.width, f.height);
        if (firstOnly)
            spots.resize(std::min<size_t>(spots.size(), 1));
        if (!spots.empty()) {
            f.withHotspotTag = true;
            f.hotspotBytes = hotspotStreamBytes(spots);
        }
        return f;
    }, path);
}

// The reader alone: the image and the hotspot list of the file.
double readerSeconds(const std::string& path, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(seconds([&] {
            HtfDocument document;
            DibHandle image = document.open(path.c_str());
            std::unique_ptr<HotspotList> hotspots(document.takeHotspots());
            if (image)
                GlobalFree(image);
        }));
    return median(times);
}

// One view of the catalogue photo in a window of the benchmark's size.
class PhotoView {
public:
    PhotoView() : host_(kClientWidth + 2, kClientHeight + 2)
    {
        const RECT r = {0, 0, kClientWidth + 2, kClientHeight + 2};
        view_.create(host_.hwnd(), r);
        pump();
    }
    // Opens the document; the window is shown, so its first picture is
    // painted before setImageFile returns.
    double open(const std::string& path)
    {
        const std::wstring wide(path.begin(), path.end());
        return seconds([&] {
            view_.setImageFile(wide.c_str());
            pump();
        });
    }
    TiffView& view() { return view_; }
    HWND window() const { return view_.hwnd(); }
    void command(int id) { view_.onCommand(id); }
    void settle()
    {
        paintNow(window());
        pump();
    }
    // A command without painting, then one paint: the state a step starts from.
    void prepare(int id)
    {
        ShowWindow(host_.hwnd(), SW_HIDE);
        command(id);
        ShowWindow(host_.hwnd(), SW_SHOWNOACTIVATE);
        settle();
    }
    double move(POINT p)
    {
        return seconds([&] {
            POINT screen = p;
            ClientToScreen(window(), &screen);
            SetCursorPos(screen.x, screen.y);
            SendMessageA(window(), WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
        });
    }

private:
    HostWindow host_;
    TiffView view_{nullptr};
};

// The timed steps of one document: pointer moves over empty places, onto
// the first hotspot and off it, a zoom step from the fit, a line scroll at 1:1.
struct StepTimes {
    double emptyMoves = 0, ontoAndOff = 0, zoom = 0, scroll = 0;
};

StepTimes timeSteps(const std::string& path, int runs)
{
    PhotoView v;
    v.open(path);
    StepTimes t;
    v.prepare(ID_FIT_WINDOW);
    // The right quarter of the image has no hotspots; at the fit (scale 0.5,
    // 1000 x 750 at rows 25 to 774) that is client columns 750 and more.
    const POINT empty[] = {{900, 300}, {950, 500}};
    std::vector<double> moves, onto;
    for (int i = 0; i < runs; ++i) {
        moves.push_back(v.move(empty[i % 2]));
        pump();
    }
    t.emptyMoves = median(moves);
    if (!v.view().hotspots().empty()) {
        const ViewHotspot& h = *v.view().hotspots().front();
        const POINT on = {(h.pixelLeft + h.pixelRight) / 2, (h.pixelTop + h.pixelBottom) / 2};
        for (int i = 0; i < runs; ++i) {
            onto.push_back(v.move(on) + v.move(empty[0]));
            pump();
        }
        t.ontoAndOff = median(onto);
    }
    std::vector<double> zooms, scrolls;
    for (int i = 0; i < std::max(runs / 2, 2); ++i) {
        v.prepare(ID_FIT_WINDOW);
        zooms.push_back(seconds([&] { v.command(ID_ZOOM_IN); }));
        pump();
    }
    t.zoom = median(zooms);
    v.prepare(ID_ACTUAL_SIZE);
    for (int i = 0; i < runs; ++i) {
        scrolls.push_back(seconds([&] { SendMessageA(v.window(), WM_VSCROLL, i % 2 ? SB_LINEUP : SB_LINEDOWN, 0); }));
        pump();
    }
    t.scroll = median(scrolls);
    return t;
}

bool runHotspots(int runs)
{
    std::printf("\ncatalogue photo 2000x1500 RGB LZW with hotspots (%dx%d client area)\n", kClientWidth, kClientHeight);
    std::printf("  %-10s %14s %24s %7s (target for 100000: within 1.2 x)\n", "hotspots", "reader ms",
                "open + first picture ms", "ratio");
    std::string none, first, tenThousand, hundredThousand;
    if (!hotspotDocument(0, false, none) || !hotspotDocument(100000, true, first) ||
        !hotspotDocument(10000, false, tenThousand) || !hotspotDocument(100000, false, hundredThousand))
        return false;
    const int openRuns = std::max(3, runs / 3);
    for (const auto& doc : {std::make_pair(0, none), std::make_pair(10000, tenThousand),
                            std::make_pair(100000, hundredThousand)}) {
        const double reader = readerSeconds(doc.second, openRuns);
        std::vector<double> opens;
        size_t shown = 0;
        for (int i = 0; i < openRuns; ++i) {
            PhotoView v;
            opens.push_back(v.open(doc.second));
            shown = v.view().hotspots().size();
        }
        // The aim (1.2 x) is for the many hotspots; without them the ratio
        // is what the first picture adds to the reading.
        const double view = median(opens), ratio = view / reader;
        std::printf("  %-10zu %14.1f %24.1f %7.2f %s\n", shown, reader * 1e3, view * 1e3, ratio,
                    doc.first < 100000 ? "" : ratio <= 1.2 ? "ok" : "MISS");
    }
    std::fflush(stdout);

    const StepTimes base = timeSteps(none, runs), one = timeSteps(first, runs);
    const StepTimes many = timeSteps(hundredThousand, runs);
    std::printf("  steps with 100000 hotspots against the same step without them (target: within 2 x):\n");
    auto row = [](const char* what, double with, double without, const char* baseline) {
        const double ratio = without > 0 ? with / without : 0;
        std::printf("    %-44s %9.3f ms  %9.3f ms (%s)  %6.2f %s\n", what, with * 1e3, without * 1e3, baseline, ratio,
                    ratio <= 2.0 ? "ok" : "MISS");
    };
    row("pointer move over empty places, fit", many.emptyMoves, base.emptyMoves, "no hotspots");
    row("pointer onto a hotspot and off, fit", many.ontoAndOff, one.ontoAndOff, "one hotspot");
    row("zoom step (ID_ZOOM_IN) from the fit", many.zoom, base.zoom, "no hotspots");
    row("line scroll (SB_LINEDOWN) at 1:1", many.scroll, base.scroll, "no hotspots");
    std::fflush(stdout);
    return true;
}

// Twenty views of the catalogue photo in one process, each zoomed to the
// largest zoom and looked at all over: the tiles stay within one budget.
bool runSoak()
{
    std::string path;
    if (!hotspotDocument(0, false, path))
        return false;
    constexpr int kViews = 20;
    const double start = nowSeconds();
    std::vector<std::unique_ptr<PhotoView>> views;
    for (int i = 0; i < kViews; ++i) {
        views.push_back(std::make_unique<PhotoView>());
        PhotoView& v = *views.back();
        v.open(path);
        ShowWindow(GetParent(v.window()), SW_HIDE);
        for (int step = 0; step < 60 && v.view().scale() < v.view().maxScale(); ++step)
            v.command(ID_ZOOM_IN);
        ShowWindow(GetParent(v.window()), SW_SHOWNOACTIVATE);
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 4; ++column) {
                SendMessageA(v.window(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, column * 1500), 0);
                SendMessageA(v.window(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, row * 1100), 0);
                v.settle();
            }
    }
    std::printf("\nsoak: %d views of the catalogue photo 2000x1500 at scale 3, each scrolled over 16 places, in "
                "%.1f s\n", kViews, nowSeconds() - start);
    std::printf("  tiles of all views at most %.1f MiB together (budget %.1f MiB); peak working set %.1f MiB\n",
                ImageRenderer::processPeakBytes() / 1048576.0, ImageRenderer::processBudgetBytes() / 1048576.0,
                peakMemoryMiB());
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    printUserMessagesToStderr();   // a terminal program: nobody could answer a message box
    const int runs = std::max(2, argc > 1 ? std::atoi(argv[1]) : 10);
    const std::string only = argc > 2 ? argv[2] : "";
    if (!only.empty() && only != "documents" && only != "hotspots" && only != "soak") {
        std::fprintf(stderr, "usage: bench_view [runs] [documents|hotspots|soak]\n");
        return 1;
    }
    TIFFSetWarningHandler(nullptr);
    if (only == "hotspots") {
        if (!runHotspots(runs))
            return 2;
        std::printf("\npeak working set: %.1f MiB\n", peakMemoryMiB());
        return 0;
    }
    if (only == "soak")
        return runSoak() ? 0 : 2;
    struct Doc {
        const char* name;
        const char* file;
        TiffFixture (*make)();
    } docs[] = {
        {"A0 drawing 13245x18720 bilevel G4", "rozerado-benchview-a0.htf", [] { return a0Drawing(13245, 18720); }},
        {"photo 8000x6000 RGB LZW", "rozerado-benchview-photo.htf", photo},
    };
    std::printf("bench_view: %dx%d client area, %d runs; ratios to one SetDIBitsToDevice of a %dx%d 24-bit DIB "
                "into the window (target: within %.0f x)\n",
                kClientWidth, kClientHeight, runs, kClientWidth, kClientHeight, kTarget);
    for (const Doc& doc : docs) {
        std::string path;
        const bool written = benchDocument(doc.file, [&doc] {
            TiffFixture f = doc.make();
            f.withHotspotTag = true;
            f.hotspotBytes = hotspotStreamBytes(benchHotspots(f.width, f.height));
            return f;
        }, path);
        if (!written)
            return 2;
        ViewBench bench(path, runs);
        if (!bench.loaded()) {
            std::fprintf(stderr, "bench_view: cannot show %s\n", path.c_str());
            return 3;
        }
        std::printf("\n%s, %zu hotspots: opened and first painted in %.2f s, fitted to %dx%d (scale %.4g)\n",
                    doc.name, bench.view().hotspots().size(), bench.openSeconds(), bench.view().scaledWidth(),
                    bench.view().scaledHeight(), bench.view().scale());
        std::printf("  blit unit: SetDIBitsToDevice %.3f ms (BitBlt from a memory bitmap %.3f ms)\n",
                    bench.unit().setDIBits * 1e3, bench.unit().bitBlt * 1e3);
        bench.run();
        printRows(bench);
        printRendererBreakdown(bench, runs);
        std::fflush(stdout);
    }
    if (only.empty() && (!runHotspots(runs) || !runSoak()))
        return 2;
    std::printf("\npeak working set: %.1f MiB\n", peakMemoryMiB());
    return 0;
}
