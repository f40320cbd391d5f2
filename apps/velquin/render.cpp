// `velquin render [SCENE.json]`: renders a scene (or the built-in default scene) with the
// plug-in objects it holds and writes PNG or EXR images.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>

#include "apps/velquin/commands.h"
#include "renderer/Errors.h"
#include "renderer/Image.h"
#include "renderer/PluginHost.h"
#include "renderer/Renderer.h"
#include "renderer/SceneLoader.h"

namespace velquin {
namespace {

using namespace velquin::renderer;

struct RenderArgs {
    std::string scene;
    std::string output;
    int width = 0, height = 0, spp = 0, threads = 0;
    int frame = 0;
    bool frameGiven = false;
    std::string frames;
    std::string region;
    std::string motionBlur;
    std::string plugins;
    bool stats = false;
    bool quiet = false;
    bool writePartial = false;
};

// ---- interruption ----
// SIGINT and SIGTERM set g_stop, which the renderer polls between rows of pixels; the program
// then ends the frame loop itself, so nothing is written half way. A second signal ends the
// program at once. The handler does only async-signal-safe work: lock-free atomics, write(2),
// unlink(2) (through removePendingImageFile) and _exit(2).
std::atomic<bool> g_stop{false};
std::atomic<int> g_stopSignal{0};
std::atomic<bool> g_quiet{false}; // --quiet: no notice from the first signal
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// What the program is busy with, so that the first signal's notice says what it stops.
enum Stage : int { kLoading, kStartingFrame, kRenderingBuckets, kWriting };
std::atomic<int> g_stage{kLoading};

void writeStderr(const char* text, std::size_t n) {
    ssize_t r = ::write(2, text, n);
    (void)r; // nothing to be done about a lost message
}

extern "C" void onStopSignal(int sig) {
    if (g_stop.exchange(true)) {
        removePendingImageFile();
        static const char again[] =
            "\nvelquin render: interrupted again: stopping at once; the image in progress is "
            "not written\n";
        writeStderr(again, sizeof again - 1);
        ::_exit(128 + sig);
    }
    g_stopSignal.store(sig);
    if (g_quiet.load())
        return;
    static const char loading[] = "\nvelquin render: stopping the loading (interrupt again to "
                                  "stop at once)\n";
    static const char starting[] = "\nvelquin render: stopping before the buckets of this frame "
                                   "start (interrupt again to stop at once)\n";
    static const char buckets[] = "\nvelquin render: stopping after the running buckets "
                                  "(interrupt again to stop at once)\n";
    static const char writing[] = "\nvelquin render: stopping once this image is written "
                                  "(interrupt again to stop at once)\n";
    switch (g_stage.load()) {
    case kLoading:
        writeStderr(loading, sizeof loading - 1);
        break;
    case kStartingFrame:
        writeStderr(starting, sizeof starting - 1);
        break;
    case kRenderingBuckets:
        writeStderr(buckets, sizeof buckets - 1);
        break;
    default:
        writeStderr(writing, sizeof writing - 1);
        break;
    }
}

void installStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read that waits (a pipe named as the scene with no writer yet) returns
    // at the signal, and the loading sees the stop.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// 130 for SIGINT, 143 for SIGTERM: what a shell reports for a program those signals ended.
int interruptedExitCode() {
    return 128 + g_stopSignal.load();
}

constexpr int kMaxSamples = 65536;

// CLI11's PositiveNumber answers 0 with "not in range 0.000000 to 1797...": say what is wanted.
CLI::Validator atLeastOne() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            int v = 0;
            const char* end = text.data() + text.size();
            auto [next, ec] = std::from_chars(text.data(), end, v);
            if (ec == std::errc() && next == end && v >= 1)
                return {};
            return "expected a whole number of at least 1, got \"" + text + "\"";
        },
        "POSITIVE");
}

// An empty name (an unset shell variable) would otherwise mean the default without a word.
CLI::Validator notEmpty() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text.empty() ? "expected a name, got an empty text" : std::string();
        },
        "");
}

// Frames become ticks (160 a frame) in an int: the scene file's range, on the command line too.
constexpr int kFrameLimit = 1000000;
bool frameInRange(int f) {
    return f >= -kFrameLimit && f <= kFrameLimit;
}

// Whether two names are one file (the same file through a link included).
bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// "A:B" or "A:B:STEP".
bool parseFrames(const std::string& s, int& a, int& b, int& step) {
    std::istringstream in(s);
    char c1 = 0, c2 = 0;
    step = 1;
    if (!(in >> a >> c1 >> b) || c1 != ':')
        return false;
    if (in >> c2) {
        if (c2 != ':' || !(in >> step) || step < 1)
            return false;
    }
    std::string rest;
    if (in >> rest)
        return false;
    return b >= a;
}

bool parseRegion(const std::string& s, Region& r) {
    std::istringstream in(s);
    char c1, c2, c3;
    if (!(in >> r.x0 >> c1 >> r.y0 >> c2 >> r.x1 >> c3 >> r.y1) || c1 != ',' || c2 != ',' ||
        c3 != ',')
        return false;
    std::string rest;
    if (in >> rest)
        return false;
    return r.x0 >= 0 && r.y0 >= 0 && r.x1 > r.x0 && r.y1 > r.y0;
}

// name.ext -> name.0007.ext
std::string frameName(const std::string& out, int frame) {
    std::filesystem::path p(out);
    char num[32];
    std::snprintf(num, sizeof num, ".%04d", frame);
    std::filesystem::path r = p.parent_path() / (p.stem().string() + num + p.extension().string());
    return r.string();
}

std::string formatSeconds(double s) {
    char buf[32];
    if (s < 60.0)
        std::snprintf(buf, sizeof buf, "%.1fs", s);
    else
        std::snprintf(buf, sizeof buf, "%dm%02ds", static_cast<int>(s) / 60,
                      static_cast<int>(s) % 60);
    return buf;
}

class Progress {
public:
    Progress(bool quiet) : quiet_(quiet), tty_(isatty(2) != 0) {}
    void start(const std::string& label) {
        label_ = label;
        t0_ = std::chrono::steady_clock::now();
        lastPct_ = kNone;
        lastDone_ = -1;
    }
    void update(int done, int total) {
        // The renderer reports the last count twice (from its loop and at the end).
        if (quiet_ || total <= 0 || done == lastDone_)
            return;
        lastDone_ = done;
        int pct = static_cast<int>(100LL * done / total);
        double el = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
        double rem = done > 0 ? el * (total - done) / done : 0.0;
        if (tty_) {
            const int width = 30;
            int fill = width * done / total;
            std::string bar(static_cast<std::size_t>(fill), '#');
            bar.resize(width, '-');
            std::fprintf(stderr, "\r%s [%s] %3d%%  %d/%d buckets  %s elapsed  %s left ",
                         label_.c_str(), bar.c_str(), pct, done, total, formatSeconds(el).c_str(),
                         formatSeconds(rem).c_str());
            if (done == total)
                std::fprintf(stderr, "\n");
            std::fflush(stderr);
        } else if (pct / 25 != lastPct_ / 25 || done == total) {
            // Plain lines for logs: at most one per quarter.
            std::fprintf(stderr, "%s: %d%% (%d/%d buckets, %s elapsed)\n", label_.c_str(), pct,
                         done, total, formatSeconds(el).c_str());
        }
        lastPct_ = pct;
    }

private:
    bool quiet_, tty_;
    std::string label_;
    std::chrono::steady_clock::time_point t0_;
    // Below every quarter, so that the 0% line is printed: it tells that the frame compile is
    // over and the buckets have started.
    static constexpr int kNone = -100;
    int lastPct_ = kNone;
    int lastDone_ = -1;
};

long peakMemoryKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// What the program is doing, for the message when memory runs out outside the renderer.
struct Phase {
    std::string what = "starting";
};

int renderScenes(const RenderArgs& a, Phase& phase) {
    // Usage checks first: nothing is loaded for a line that cannot work.
    int fa = 0, fb = 0, fs = 1;
    if (!a.frames.empty() && !parseFrames(a.frames, fa, fb, fs)) {
        std::fprintf(stderr,
                     "velquin render: --frames: expected A:B or A:B:STEP with A <= B and "
                     "STEP >= 1, got \"%s\"\n",
                     printable(a.frames).c_str());
        return kExitBadUsage;
    }
    if ((!a.frames.empty() && !(frameInRange(fa) && frameInRange(fb))) ||
        (a.frameGiven && !frameInRange(a.frame))) {
        std::fprintf(stderr, "velquin render: %s: expected frames from -%d to %d, got \"%s\"\n",
                     a.frameGiven ? "--frame" : "--frames", kFrameLimit, kFrameLimit,
                     a.frameGiven ? std::to_string(a.frame).c_str() : printable(a.frames).c_str());
        return kExitBadUsage;
    }
    if (a.spp > kMaxSamples) {
        std::fprintf(stderr,
                     "velquin render: --spp: expected a whole number from 1 to %d, got %d\n",
                     kMaxSamples, a.spp);
        return kExitBadUsage;
    }
    Region region;
    if (!a.region.empty() && !parseRegion(a.region, region)) {
        std::fprintf(stderr,
                     "velquin render: --region: expected x0,y0,x1,y1 with x0 < x1 and "
                     "y0 < y1, got \"%s\"\n",
                     printable(a.region).c_str());
        return kExitBadUsage;
    }
    std::string output = a.output.empty() ? "velquin.png" : a.output;
    ImageFormat fmt;
    if (!imageFormatFor(output, fmt))
        throw InputError(output + ": unknown image type: the output must end in .png or .exr");
    {
        std::filesystem::path dir = std::filesystem::path(output).parent_path();
        std::error_code ec;
        if (!dir.empty() && !std::filesystem::is_directory(dir, ec))
            throw InputError(
                output + ": cannot write the image: the folder \"" + dir.string() +
                (std::filesystem::exists(dir, ec) ? "\" is not a folder" : "\" does not exist"));
        // Find out now, not after a render of hours, that the folder takes no new file (the
        // image is written through a temporary file beside it).
        std::string shown = dir.empty() ? "." : dir.string();
        std::string probe = shown + "/.velquin-probe-XXXXXX";
        int fd = ::mkstemp(probe.data());
        if (fd < 0)
            throw InputError(output + ": cannot write the image in the folder \"" + shown +
                             "\": " + std::strerror(errno));
        ::close(fd);
        ::unlink(probe.c_str());
    }
    if (!a.scene.empty() && sameFile(a.scene, output))
        throw InputError(output + ": the output is the scene file; refusing to overwrite it");

        // Plug-ins before the scene: the scene's objects come from them and must go first.
        // The loader accepts only modules built for the host version this program plays.
#ifdef VELQUIN_LIB_VERSION
    SetHostSDKVersion(VELQUIN_LIB_VERSION);
#endif
    g_quiet.store(a.quiet);
    installStopHandlers();
    Renderer::allocationFailures(); // counts from here on, the loading's failures included
    phase.what = "loading the plug-ins";
    PluginHost plugins;
    std::string pluginDir = a.plugins.empty() ? defaultPluginFolder() : a.plugins;
    try {
        plugins.loadFolder(pluginDir);
    } catch (const BadInput& e) {
        throw InputError(
            std::string(e.what()) +
            (a.plugins.empty() ? "\n(use --plugins DIR to name the plug-in folder)" : ""));
    }
    // A module that was refused beside others that loaded may be the one the scene needs.
    if (!a.quiet)
        for (const std::string& r : plugins.refusals())
            std::fprintf(stderr, "velquin render: warning: plug-in module skipped: %s\n",
                         r.c_str());

    phase.what =
        "loading the scene " + (a.scene.empty() ? std::string("<default scene>") : a.scene);
    std::unique_ptr<RenderScene> scene;
    try {
        scene = a.scene.empty() ? loadScene(defaultSceneText(), "<default scene>", "", &g_stop)
                                : loadSceneFile(a.scene, &g_stop);
    } catch (const Interrupted& e) {
        std::fprintf(stderr, "velquin render: interrupted while %s: nothing written\n", e.what());
        return interruptedExitCode();
    } catch (const BadInput& e) {
        // A read cut short by the signal fails as well: it is the stop that counts.
        if (g_stop.load()) {
            std::fprintf(stderr, "velquin render: interrupted while loading: nothing written\n");
            return interruptedExitCode();
        }
        throw InputError(e.what());
    }
    RenderSettings& s = scene->settings;
    if (a.width > 0)
        s.width = a.width;
    if (a.height > 0)
        s.height = a.height;
    if (a.spp > 0)
        s.spp = a.spp;

    if (a.motionBlur == "on")
        s.motionBlur = true;
    else if (a.motionBlur == "off")
        s.motionBlur = false;
    if (a.frameGiven) {
        s.frameStart = s.frameEnd = a.frame;
        s.frameStep = 1;
        s.frameRange = false;
    }
    if (!a.frames.empty()) {
        s.frameStart = fa;
        s.frameEnd = fb;
        s.frameStep = fs;
        s.frameRange = true;
    }

    if (!s.frameRange) {
        std::error_code ec;
        if (std::filesystem::is_directory(output, ec))
            throw InputError(output + ": cannot write the image: it is a folder");
    }
    // An image written over a file the render read would destroy its own input.
    for (int f = s.frameStart; f <= s.frameEnd; f += s.frameStep) {
        const std::string out = s.frameRange ? frameName(output, f) : output;
        for (const std::string& in : scene->inputFiles)
            if (sameFile(in, out))
                throw InputError(out + ": the output is the input file \"" + in +
                                 "\" of this render; refusing to overwrite it");
        if (!s.frameRange)
            break;
    }

    RenderOptions opt;
    opt.threads = a.threads > 0
                      ? a.threads
                      : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (!a.region.empty()) {
        if (region.x1 > s.width || region.y1 > s.height)
            throw InputError("--region " + a.region + ": outside the " + std::to_string(s.width) +
                             "x" + std::to_string(s.height) + " image");
        opt.useRegion = true;
        opt.region = region;
    }

    opt.stop = &g_stop;

    if (g_stop.load()) {
        std::fprintf(stderr, "velquin render: interrupted before rendering: nothing written\n");
        return interruptedExitCode();
    }
    phase.what = "starting the render";
    g_stage.store(kStartingFrame);
    Renderer renderer(*scene, opt);
    Progress progress(a.quiet);
    renderer.begin(s.frameStart);
    int written = 0;
    for (int f = s.frameStart; f <= s.frameEnd; f += s.frameStep) {
        std::string out = s.frameRange ? frameName(output, f) : output;
        if (g_stop.load()) {
            // Between frames: the frames written stay, the rest are not started.
            std::fprintf(stderr,
                         "velquin render: interrupted: %s not rendered; %d frame%s written\n",
                         out.c_str(), written, written == 1 ? "" : "s");
            return interruptedExitCode();
        }
        progress.start(s.frameRange ? "frame " + std::to_string(f) : "rendering");
        FrameStats st;
        phase.what = "rendering frame " + std::to_string(f);
        g_stage.store(kStartingFrame);
        Image img = renderer.renderFrame(f, st, [&](int d, int t) {
            g_stage.store(kRenderingBuckets);
            progress.update(d, t);
        });
        phase.what = "writing " + out;
        g_stage.store(kWriting);
        if (st.interrupted) {
            std::string before = s.frameRange ? "; " + std::to_string(written) + " earlier frame" +
                                                    (written == 1 ? "" : "s") + " written"
                                              : "";
            if (!a.writePartial) {
                std::fprintf(stderr, "velquin render: interrupted: %s not written%s\n", out.c_str(),
                             before.c_str());
                return interruptedExitCode();
            }
            try {
                writeImage(img, out, opt.threads);
            } catch (const ImageError& e) {
                std::fprintf(stderr, "velquin render: interrupted, and %s\n", e.what());
                return interruptedExitCode();
            }
            std::fprintf(stderr,
                         "velquin render: interrupted: wrote the partial image %s (%d of %d "
                         "buckets complete; pixels not rendered are transparent black)%s\n",
                         out.c_str(), st.bucketsDone, st.bucketsTotal, before.c_str());
            return interruptedExitCode();
        }
        try {
            writeImage(img, out, opt.threads);
        } catch (const ImageError& e) {
            throw InputError(e.what());
        }
        ++written;
        if (!a.quiet)
            std::fprintf(stderr, "wrote %s (%dx%d, %d spp%s)\n", out.c_str(), s.width, s.height,
                         s.spp, a.scene.empty() ? ", default scene" : "");
        if (a.stats) {
            double rps =
                st.renderSeconds > 0.0 ? static_cast<double>(st.totalRays) / st.renderSeconds : 0.0;
            std::printf("frame %d\n", f);
            std::printf("  render instances:    %d\n", renderer.instanceCount());
            std::printf("  dynamic primitives:  %d\n", st.primitives);
            if (st.geometryItems >= 0)
                std::printf("  %-20s %lld\n", (st.geometryItemName + ":").c_str(),
                            st.geometryItems);
            else
                std::printf("  geometry items:      not reported by the render instances\n");
            if (st.droppedNonFinite > 0 || st.droppedNonPositiveSize > 0)
                std::printf("  left out:            %lld with a value not finite or beyond 2^64, "
                            "%lld with a size not above 0\n",
                            st.droppedNonFinite, st.droppedNonPositiveSize);
            std::printf("  triangle meshes:     %d (%lld triangles)\n", st.triangleMeshes,
                        st.triangles);
            std::printf("  frame compile:       %.3f s (hierarchies built inside the instances)\n",
                        st.compileSeconds);
            std::printf("  scene build:         %.3f s\n", st.buildSeconds);
            std::printf("  render:              %.3f s on %d threads\n", st.renderSeconds,
                        opt.threads);
            std::printf("  camera rays:         %lld\n", st.cameraRays);
            std::printf("  total rays:          %lld\n", st.totalRays);
            std::printf("  rays per second:     %.0f\n", rps);
            if (st.traceCounted && st.cameraRays > 0) {
                // Every ray's marches (shadow and secondary rays too), per camera ray.
                const double perRay = 1.0 / static_cast<double>(st.cameraRays);
                std::printf("  per camera ray:      %.1f march samples, %.1f distance tests, "
                            "%.1f kernel evaluations\n",
                            st.marchSamples * perRay, st.distanceTests * perRay,
                            st.kernelEvaluations * perRay);
                std::printf(
                    "  skipped by bounds:   %.1f march samples per camera ray (%.1f%% of "
                    "all march samples)\n",
                    st.skippedSamples * perRay,
                    100.0 * static_cast<double>(st.skippedSamples) /
                        static_cast<double>(std::max(1LL, st.skippedSamples + st.marchSamples)));
                if (st.leafVisits > 0)
                    std::printf("  candidates:          %.2f per leaf visit (%.1f leaf visits per "
                                "camera ray)\n",
                                static_cast<double>(st.candidates) /
                                    static_cast<double>(st.leafVisits),
                                st.leafVisits * perRay);
                if (st.distanceTests > 0)
                    std::printf("  tests that count:    %.3f (kernel evaluations per distance "
                                "test)\n",
                                static_cast<double>(st.kernelEvaluations) /
                                    static_cast<double>(st.distanceTests));
            }
            std::printf("  peak memory:         %.1f MiB\n", peakMemoryKiB() / 1024.0);
            std::fflush(stdout);
        }
    }
    renderer.end();
    if (g_stop.load()) {
        // The signal came after the last bucket: every image is complete and written.
        std::fprintf(stderr, "velquin render: interrupted after the last frame was written\n");
        return interruptedExitCode();
    }
    return kExitSuccess;
}

// Running out of memory is reported as an internal failure (exit 3): the input is not wrong, the
// machine is too small for it. The message is printed here, after renderScenes has returned
// and freed what it held, so that printing it needs no memory of note.
int runRender(const RenderArgs& a) {
    Phase phase;
    try {
        return renderScenes(a, phase);
    } catch (const OutOfMemory& e) {
        std::fprintf(stderr, "velquin render: %s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velquin render: out of memory while %s\n", phase.what.c_str());
    }
    return kExitInternalFailure;
}

} // namespace

void addRenderCommand(CLI::App& app) {
    auto a = std::make_shared<RenderArgs>();
    CLI::App* sub = app.add_subcommand(
        "render", "Render a scene (or the built-in default scene) to a PNG or EXR image");
    sub->add_option("SCENE", a->scene, "Scene file (JSON); without it the default scene");
    sub->add_option("-o,--output", a->output,
                    "Output image, .png or .exr (default velquin.png); with --frames, "
                    "name.####.ext per frame")
        ->check(notEmpty());
    sub->add_option("--width", a->width, "Image width in pixels")->check(atLeastOne());
    sub->add_option("--height", a->height, "Image height in pixels")->check(atLeastOne());
    sub->add_option("--spp", a->spp, "Samples per pixel (at most 65536)")->check(atLeastOne());
    sub->add_option("--threads", a->threads, "Render threads (default: all cores)")
        ->check(atLeastOne());
    auto* fr = sub->add_option("--frame", a->frame, "Frame to render");
    auto* frs = sub->add_option("--frames", a->frames, "Frames A:B[:STEP]");
    fr->excludes(frs);
    frs->excludes(fr);
    sub->add_option("--region", a->region, "Render only pixels x0,y0,x1,y1 (x1, y1 excluded)");
    sub->add_option("--motion-blur", a->motionBlur, "Motion blur on or off (default: the scene's)")
        ->check(CLI::IsMember({"on", "off"}));
    sub->add_option("--plugins", a->plugins,
                    "Folder of plug-in modules (default: plugins beside the program)")
        ->check(notEmpty());
    sub->add_flag("--stats", a->stats, "Print statistics of each frame");
    sub->add_flag("--quiet", a->quiet, "No progress or messages on standard error");
    sub->add_flag("--write-partial", a->writePartial,
                  "When interrupted (Ctrl-C, SIGTERM), write what has been rendered so far; "
                  "pixels not rendered are transparent black (alpha 0) in PNG and EXR. Without "
                  "it an interrupted image is not written. Exit code 130 (SIGINT) or 143 "
                  "(SIGTERM) either way");
    setCommandAction(sub, [a, fr] {
        a->frameGiven = fr->count() > 0;
        return runRender(*a);
    });
}

} // namespace velquin
