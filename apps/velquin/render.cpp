// `velquin render [SCENE.json]`: renders a scene (or the built-in default scene) with the
// plug-in objects it holds and writes PNG or EXR images.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
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
};

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
        lastPct_ = -1;
    }
    void update(int done, int total) {
        if (quiet_ || total <= 0)
            return;
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
    int lastPct_ = -1;
};

long peakMemoryKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int runRender(const RenderArgs& a) {
    // Usage checks first: nothing is loaded for a line that cannot work.
    int fa = 0, fb = 0, fs = 1;
    if (!a.frames.empty() && !parseFrames(a.frames, fa, fb, fs)) {
        std::fprintf(stderr,
                     "velquin render: --frames: expected A:B or A:B:STEP with A <= B and "
                     "STEP >= 1, got \"%s\"\n",
                     a.frames.c_str());
        return kExitBadUsage;
    }
    Region region;
    if (!a.region.empty() && !parseRegion(a.region, region)) {
        std::fprintf(stderr,
                     "velquin render: --region: expected x0,y0,x1,y1 with x0 < x1 and "
                     "y0 < y1, got \"%s\"\n",
                     a.region.c_str());
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
            throw InputError(output + ": cannot write the image: the folder \"" + dir.string() +
                             "\" does not exist");
    }

    // Plug-ins before the scene: the scene's objects come from them and must go first.
    // The loader accepts only modules built for the host version this program plays.
#ifdef VELQUIN_LIB_VERSION
    SetHostSDKVersion(VELQUIN_LIB_VERSION);
#endif
    PluginHost plugins;
    std::string pluginDir = a.plugins.empty() ? defaultPluginFolder() : a.plugins;
    try {
        plugins.loadFolder(pluginDir);
    } catch (const BadInput& e) {
        throw InputError(
            std::string(e.what()) +
            (a.plugins.empty() ? "\n(use --plugins DIR to name the plug-in folder)" : ""));
    }

    std::unique_ptr<RenderScene> scene;
    try {
        scene = a.scene.empty() ? loadScene(defaultSceneText(), "<default scene>", "")
                                : loadSceneFile(a.scene);
    } catch (const BadInput& e) {
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

    Renderer renderer(*scene, opt);
    Progress progress(a.quiet);
    renderer.begin(s.frameStart);
    for (int f = s.frameStart; f <= s.frameEnd; f += s.frameStep) {
        std::string out = s.frameRange ? frameName(output, f) : output;
        progress.start(s.frameRange ? "frame " + std::to_string(f) : "rendering");
        FrameStats st;
        Image img = renderer.renderFrame(f, st, [&](int d, int t) { progress.update(d, t); });
        try {
            writeImage(img, out);
        } catch (const ImageError& e) {
            throw InputError(e.what());
        }
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
            std::printf("  peak memory:         %.1f MiB\n", peakMemoryKiB() / 1024.0);
            std::fflush(stdout);
        }
    }
    renderer.end();
    return kExitSuccess;
}

} // namespace

void addRenderCommand(CLI::App& app) {
    auto a = std::make_shared<RenderArgs>();
    CLI::App* sub = app.add_subcommand(
        "render", "Render a scene (or the built-in default scene) to a PNG or EXR image");
    sub->add_option("SCENE", a->scene, "Scene file (JSON); without it the default scene");
    sub->add_option("-o,--output", a->output,
                    "Output image, .png or .exr (default velquin.png); with --frames, "
                    "name.####.ext per frame");
    sub->add_option("--width", a->width, "Image width in pixels")->check(CLI::PositiveNumber);
    sub->add_option("--height", a->height, "Image height in pixels")->check(CLI::PositiveNumber);
    sub->add_option("--spp", a->spp, "Samples per pixel")->check(CLI::PositiveNumber);
    sub->add_option("--threads", a->threads, "Render threads (default: all cores)")
        ->check(CLI::PositiveNumber);
    auto* fr = sub->add_option("--frame", a->frame, "Frame to render");
    auto* frs = sub->add_option("--frames", a->frames, "Frames A:B[:STEP]");
    fr->excludes(frs);
    frs->excludes(fr);
    sub->add_option("--region", a->region, "Render only pixels x0,y0,x1,y1 (x1, y1 excluded)");
    sub->add_option("--motion-blur", a->motionBlur, "Motion blur on or off (default: the scene's)")
        ->check(CLI::IsMember({"on", "off"}));
    sub->add_option("--plugins", a->plugins,
                    "Folder of plug-in modules (default: plugins beside the program)");
    sub->add_flag("--stats", a->stats, "Print statistics of each frame");
    sub->add_flag("--quiet", a->quiet, "No progress or messages on standard error");
    setCommandAction(sub, [a, fr] {
        a->frameGiven = fr->count() > 0;
        return runRender(*a);
    });
}

} // namespace velquin
