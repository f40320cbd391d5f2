// What the renderer renders: settings, camera, lights, materials, background and the host-side
// scene of nodes and objects, as the scene loader builds them from a scene file.
#pragma once

#include "platform/max/animval.h"
#include "platform/max/maxtypes.h"
#include "platform/max/scene.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class Texmap;

namespace velquin::renderer {

struct RenderSettings {
    int width = 640;
    int height = 480;
    int spp = 1;
    // Frames to render (frame numbers; 160 ticks each); one frame unless a range is given.
    int frameStart = 0;
    int frameEnd = 0;
    int frameStep = 1;
    bool frameRange = false;
    bool motionBlur = false;
    // Shutter length as a fraction of a frame, centred on the frame's time.
    float shutter = 0.5f;
    // Reflection and refraction bounces after the camera ray.
    int maxDepth = 6;
    // Offset of secondary ray origins from the surface, in scene units.
    float rayBias = 0.01f;
    // Background pixels get alpha 0 (else every pixel is opaque).
    bool transparentBackground = false;
};

// Pinhole camera at position looking at target; up is +Z unless given; vertical field of view
// in degrees. Position, target and fov may be keyed.
struct Camera {
    AnimValue<Point3> position{Point3(0.0f, -200.0f, 100.0f)};
    AnimValue<Point3> target{Point3(0.0f, 0.0f, 0.0f)};
    Point3 up{0.0f, 0.0f, 1.0f};
    AnimValue<float> fov{40.0f};
};

enum class LightType { Directional, Point, Ambient, Dome };

struct Light {
    LightType type = LightType::Directional;
    Point3 direction{0.0f, 0.0f, -1.0f}; // directional: the way the light travels
    Point3 position;                     // point
    Color color{1.0f, 1.0f, 1.0f};
    float intensity = 1.0f;
    bool shadows = true;
    // Dome: the sky colour from above; `color` is the colour from below (the ground).
    Color skyColor{1.0f, 1.0f, 1.0f};
};

enum class MaterialType { Diffuse, Glossy, Mirror, Glass };

struct Material {
    std::string name;
    MaterialType type = MaterialType::Diffuse;
    Color color{0.8f, 0.8f, 0.8f};
    // Take the surface's own colour (a metaball colour) when the hit carries one.
    bool useSurfaceColor = false;
    // Glossy: highlight strength and sharpness, and the strength of the mirrored image.
    float specular = 0.5f;
    float shininess = 40.0f;
    float reflection = 0.15f;
    // Glass: index of refraction; the colour tints what passes through.
    float ior = 1.5f;
};

struct Background {
    Color top{0.55f, 0.65f, 0.8f};
    Color bottom{0.9f, 0.9f, 0.92f};
};

enum class NodeKind { Mesh, Particles, Plugin, Other };

// A node the renderer knows of, with what it needs beyond the host scene.
struct RenderNode {
    INode* node = nullptr;
    NodeKind kind = NodeKind::Other;
    int material = 0;
    bool visible = false; // meshes: seen as triangles
};

struct RenderScene {
    std::string source; // the scene file, or "<default scene>"
    RenderSettings settings;
    Camera camera;
    std::vector<Light> lights;
    std::vector<Material> materials; // index 0 is the default material
    Background background;
    std::unique_ptr<Scene> scene;
    std::vector<RenderNode> nodes;
    std::vector<Texmap*> texmaps; // owned
    // The files the scene was read from: the scene file itself, then point and mesh files.
    std::vector<std::string> inputFiles;

    RenderScene();
    ~RenderScene();
    RenderScene(const RenderScene&) = delete;
    RenderScene& operator=(const RenderScene&) = delete;
};

} // namespace velquin::renderer
