#version 460 core

// Tessaran: a city of square pillars on an endless grid, flown over by a
// camera on sync tracks. Each section of the song gets its own light: a night
// grid for the intro, a warming horizon while the build raises the pillars,
// neon for the drop, a frozen top-down mosaic for the breakdown and embers for
// the outro. Accents come from tracks keyed on the drums; the beat-locked
// motion in between (waves, lit tiles) runs on the row clock.
//
// Pillars are traced cell by cell through the grid rather than ray-marched: one
// step per cell crossed, an exact hit, and no step-size tuning, which keeps a
// frame inside the budget of a software renderer.

layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 fragColor;

#pragma EXPORT(rocket=cam:pos)
uniform vec3 camPos;
#pragma EXPORT(rocket=cam:target)
uniform vec3 camTarget;
#pragma EXPORT(rocket=cam:lens)
uniform vec2 camLens;
#pragma EXPORT(rocket=scene:index)
uniform float sceneIndex;
#pragma EXPORT(rocket=scene:fade)
uniform float fade;
#pragma EXPORT(rocket=fx:flash)
uniform float flash;
#pragma EXPORT(rocket=fx:pulse)
uniform float pulse;
#pragma EXPORT(rocket=fx:ring)
uniform float ringRadius;
#pragma EXPORT(rocket=world:shape)
uniform vec3 worldShape;

#pragma EXPORT(imgui=palette)
uniform vec3 edgeCold;
#pragma EXPORT(imgui=palette)
uniform vec3 edgeHot;
#pragma EXPORT(imgui=palette)
uniform vec3 ember;
#pragma EXPORT(imgui=sky)
uniform vec3 skyZenith;
#pragma EXPORT(imgui=sky)
uniform vec3 skyHorizon;
#pragma EXPORT(imgui=light)
uniform vec3 sunDir;
#pragma EXPORT(imgui=fog)
uniform vec2 fogShape;
#pragma EXPORT(imgui=grade)
uniform vec4 grade;
#pragma EXPORT(imgui=grain)
uniform float grain;

#pragma EXPORT(internal=time)
uniform float time;
#pragma EXPORT(internal=rows)
uniform float rows;
#pragma EXPORT(internal=resolution)
uniform vec2 resolution;

const float kTau = 6.2831853;
// Cells a ray may cross before it counts as lost in the haze: a ray that
// finds nothing takes the fog's colour, which the far city has faded into.
const int kMaxCells = 44;
const float kFar = 60.0;

float sq(float x) { return x * x; }

// Integer hash of a cell: stable for any cell index, unlike sine-based hashes
// whose precision falls apart far from the origin.
float hash12(vec2 c)
{
	uvec2 q = uvec2(ivec2(c) + 65536);
	uint h = (q.x * 1597334677u) ^ (q.y * 3812015801u);
	h = (h ^ (h >> 15)) * 2246822519u;
	h ^= h >> 13;
	return float(h) * (1.0 / 4294967296.0);
}

// The look of a section, blended by distance to sceneIndex so that a track
// that glides between indices cross-fades instead of snapping.
struct Look {
	vec3 edgeA;      // tile edge light
	vec3 edgeB;      // second edge colour (checkered per cell)
	vec3 zenith;
	vec3 horizon;
	vec3 sun;
	float stars;
	float fog;       // multiplier of the fog density
	float halo;      // the ring around the sun
	float glow;      // the sun's haze
	float inner;     // sub-tile lines on the pillar tops
	float ambient;
};

float