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

float lookWeight(float index) { return clamp(1.0 - abs(sceneIndex - index), 0.0, 1.0); }

Look currentLook()
{
	float w0 = lookWeight(0.0), w1 = lookWeight(1.0), w2 = lookWeight(2.0);
	float w3 = lookWeight(3.0), w4 = lookWeight(4.0);
	vec3 ice = mix(edgeCold, vec3(0.7, 0.9, 1.0), 0.5);
	Look l;
	l.edgeA = w0 * edgeCold + w1 * skyHorizon + w2 * edgeCold + w3 * ice + w4 * ember;
	l.edgeB = w0 * edgeCold + w1 * mix(skyHorizon, edgeHot, 0.35) + w2 * edgeHot + w3 * edgeCold + w4 * mix(ember, vec3(1.0, 0.78, 0.3), 0.5);
	l.zenith = w0 * skyZenith + w1 * mix(skyZenith, edgeHot * 0.1, 0.5) + w2 * mix(skyZenith, edgeHot, 0.04)
	         + w3 * skyZenith * 0.6 + w4 * ember * vec3(0.02, 0.006, 0.01);
	l.horizon = w0 * skyZenith * 4.0 + w1 * skyHorizon * 0.75 + w2 * edgeHot * 0.16
	          + w3 * skyZenith * 2.0 + w4 * ember * vec3(0.15, 0.03, 0.05);
	l.sun = w0 * vec3(0.65, 0.75, 1.0) + w1 * skyHorizon * 1.5 + w2 * mix(edgeHot, vec3(1.0), 0.5)
	      + w3 * vec3(0.6, 0.8, 1.0) + w4 * ember * vec3(0.9, 0.45, 0.4);
	l.stars = w0 + w1 * 0.2 + w2 * 0.7 + w4 * 0.5;
	l.fog = w0 * 1.3 + w1 * 0.75 + w2 * 0.65 + w3 * 0.3 + w4 * 0.9;
	l.halo = w2 + w4 * 0.6;
	l.glow = w0 * 0.35 + w1 + w2 + w3 + w4;
	l.inner = w0 * 0.15 + w1 * 0.2 + w2 * 0.1 + w3 * 1.0 + w4 * 0.1;
	l.ambient = w0 * 0.6 + w1 * 0.8 + w2 * 0.6 + w3 * 0.8 + w4 * 0.6;
	return l;
}

float cellHeight(vec2 cell)
{
	vec2 centre = cell + 0.5;
	float r = hash12(cell);
	float d = length(centre);
	float base = 0.12 + 1.7 * r * r * r;
	// One wave a bar runs outwards from the origin, locked to the beat grid.
	float wave = worldShape.y * (0.5 + 0.5 * sin(d * 0.5 - rows * (kTau / 32.0)));
	float sweep = 1.3 * sq(max(1.0 - 0.35 * sq(d - ringRadius), 0.0)) * step(0.5, ringRadius);
	// The low bits of the same hash pick the pillars that jump.
	float kick = pulse * 1.1 * step(0.55, fract(r * 61.0));
	float h = worldShape.x * base + wave + sweep + kick;
	// Two boulevards cross at the plaza: the low shots fly down them.
	float boulevard = 1.0 - step(0.5, min(abs(cell.x), abs(cell.y)));
	h = mix(h, 0.04, boulevard);
	// Whatever the tracks do, the column under the camera stays below it.
	float clearance = distance(centre, camPos.xz);
	return min(h, max(camPos.y - 0.35, 0.0) + 12.0 * smoothstep(1.0, 2.5, clearance));
}

// Highest a pillar can reach: a ray climbing above it has left the city.
float heightBound() { return worldShape.x * 1.82 + abs(worldShape.y) + 1.3 + 1.1 * abs(pulse); }

struct Hit {
	float t;
	vec3 normal;
	vec2 cell;
	float height;
	bool found;
};

Hit trace(vec3 ro, vec3 rd)
{
	Hit hit = Hit(kFar, vec3(0.0, 1.0, 0.0), vec2(0.0), 0.0, false);
	float top = heightBound();
	// From above the city, the walk starts where the ray comes down to the
	// tallest a pillar can be: the cells before it are empty air, and they are
	// most of the work for a high camera looking to the horizon.
	float tEnter = 0.0;
	if (ro.y > top) {
		if (rd.y >= 0.0) return hit;
		tEnter = (ro.y - top) / -rd.y;
	}
	vec2 cell = floor(ro.xz + rd.xz * tEnter);
	vec2 dirSign = sign(rd.xz);
	vec2 cellSpan = 1.0 / max(abs(rd.xz), vec2(1e-6));
	vec2 tNext = (dirSign * (cell - ro.xz) + dirSign * 0.5 + 0.5) * cellSpan;
	vec2 lastStep = vec2(0.0);
	for (int i = 0; i < kMaxCells; ++i) {
		float h = cellHeight(cell);
		float tExit = min(tNext.x, tNext.y);
		float yEnter = ro.y + rd.y * tEnter;
		if (yEnter <= h) {
			hit = Hit(tEnter, vec3(-lastStep.x, 0.0, -lastStep.y), cell, h, true);
			break;
		}
		if (ro.y + rd.y * tExit <= h) {
			hit = Hit((h - ro.y) / rd.y, vec3(0.0, 1.0, 0.0), cell, h, true);
			break;
		}
		if (rd.y >= 0.0 && yEnter > top) break;
		bool acrossX = tNext.x < tNext.y;
		lastStep = acrossX ? vec2(dirSign.x, 0.0) : vec2(0.0, dirSign.y);
		cell += lastStep;
		tEnter = tExit;
		tNext += acrossX ? vec2(cellSpan.x, 0.0) : vec2(0.0, cellSpan.y);
	}
	return hit;
}

// Sky without its details: also the colour of the fog, so that the city
// fades into the horizon behind it.
vec3 haze(vec3 rd, Look look, vec3 light)
{
	float up = max(rd.y, 0.0);
	vec3 col = mix(look.zenith, look.horizon, pow(1.0 - up, 5.0));
	float s = max(dot(rd, light), 0.0);
	return col + look.sun * (pow(s, 24.0) * 0.22 * look.glow);
}

vec3 sky(vec3 rd, Look look, vec3 light)
{
	vec3 col = haze(rd, look, light);
	float s = max(dot(rd, light), 0.0);
	col += look.sun * smoothstep(0.9993, 0.9996, s) * 2.5;
	// A ring around the sun that swells with the kick.
	float ringAt = 0.93 - 0.01 * pulse;
	col += look.edgeB * look.halo * (0.25 + 1.2 * pulse) * exp(-sq(s - ringAt) * 40000.0);
	// Stars on a lattice of directions, twinkling on the clock.
	vec3 q = rd * 160.0;
	vec3 qc = floor(q);
	float star = hash12(qc.xy + qc.z * 57.0);
	float twinkle = 0.6 + 0.4 * sin(time * 3.0 + star * 40.0);
	float dotShape = smoothstep(0.35, 0.0, length(fract(q) - 0.5));
	col += vec3(0.9, 0.95, 1.0) * look.stars * step(0.985, star) * dotShape * twinkle * smoothstep(0.0, 0.2, rd.y);
	return col;
}

vec3 shade(Hit hit, vec3 ro, vec3 rd, Look look, vec3 light)
{
	vec3 p = ro + rd * hit.t;
	vec2 f = p.xz - hit.cell;
	float cellRand = hash12(hit.cell + 7.0);
	float checker = mod(hit.cell.x + hit.cell.y, 2.0);
	vec3 edge = mix(look.edgeA, look.edgeB, checker);
	float d = length(hit.cell + 0.5);
	float sweep = exp(-2.0 * abs(d - ringRadius)) * step(0.5, ringRadius);
	// A new set of lit tiles on every beat.
	float lit = step(hash12(hit.cell + floor(rows / 8.0) * 13.0), worldShape.z);

	vec3 albedo = vec3(0.05, 0.055, 0.07) + 0.04 * cellRand;
	vec3 emit = vec3(0.0);
	if (hit.normal.y > 0.5) {
		vec2 border = min(f, 1.0 - f);
		float e = min(border.x, border.y);
		vec2 sub = abs(fract(f * 3.0) - 0.5);
		float innerLine = smoothstep(0.44, 0.5, max(sub.x, sub.y));
		emit += edge * (exp(-e * 60.0) * 1.6 + exp(-e * 9.0) * 0.25);
		emit += edge * innerLine * look.inner * 0.5;
		emit += edge * lit * (0.35 + 0.9 * pulse) * smoothstep(0.04, 0.1, e);
		emit += mix(edge, vec3(1.0), 0.4) * sweep * 2.2;
	} else {
		float depth = hit.height - p.y;
		float u = abs(hit.normal.x) > 0.5 ? f.y : f.x;
		// Three bays a face, each two panes with a mullion, in floors of 0.4.
		float bay = fract(u * 3.0);
		float windows = step(0.55, fract(depth * 2.5)) * step(0.3, bay) * step(0.05, abs(bay - 0.5));
		float windowLit = step(0.6, hash12(hit.cell * 3.0 + floor(depth * 2.5)));
		emit += edge * exp(-depth * 25.0) * 1.2;
		emit += mix(edge, vec3(1.0, 0.85, 0.6), 0.5) * windows * windowLit * 0.35 * exp(-depth * 0.25);
		albedo *= exp(-depth * 0.45);
	}
	float diffuse = max(dot(hit.normal, light), 0.0);
	vec3 col = albedo * (look.sun * diffuse * 0.9 + look.zenith * look.ambient * (0.5 + 0.5 * hit.normal.y)) + emit;
	return col;
}

void main()
{
	float aspect = resolution.x / max(resolution.y, 1.0);
	// Height fixes the field of view; wider windows see more to the sides.
	vec2 p = (vUv * 2.0 - 1.0) * vec2(aspect, -1.0);

	vec3 ro = camPos;
	vec3 ahead = camTarget - camPos;
	vec3 fwd = dot(ahead, ahead) > 1e-8 ? normalize(ahead) : vec3(0.0, 0.0, -1.0);
	vec3 ref = abs(fwd.y) > 0.995 ? vec3(0.0, 0.0, -1.0) : vec3(0.0, 1.0, 0.0);
	vec3 right = normalize(cross(fwd, ref));
	vec3 up = cross(right, fwd);
	float c = cos(camLens.y), s = sin(camLens.y);
	vec3 r2 = c * right + s * up;
	vec3 u2 = c * up - s * right;
	vec3 rd = normalize(p.x * r2 + p.y * u2 + max(camLens.x, 0.5) * fwd);

	Look look = currentLook();
	vec3 light = normalize(sunDir + vec3(0.0, 1e-4, 0.0));
	vec3 fogColour = haze(vec3(rd.x, 0.0, rd.z), look, light);

	Hit hit = trace(ro, rd);
	vec3 col;
	if (hit.found) {
		col = shade(hit, ro, rd, look, light);
		// Thicker low down: tower tops stand out of the haze between them.
		float hitHeight = max(ro.y + rd.y * hit.t, 0.0);
		float fogAmount = 1.0 - exp(-hit.t * fogShape.x * look.fog * exp(-hitHeight * fogShape.y));
		col = mix(col, fogColour, fogAmount);
	} else {
		col = rd.y > 0.0 ? sky(rd, look, light) : fogColour;
	}

	// Grade: exposure into a soft shoulder, then saturation and contrast.
	col = 1.0 - exp(-col * grade.x);
	float luma = dot(col, vec3(0.2126, 0.7152, 0.0722));
	col = mix(vec3(luma), col, grade.z);
	col = clamp((col - 0.5) * grade.y + 0.5, 0.0, 1.0);
	// Measured in screen height so that every window size darkens alike.
	col *= 1.0 - grade.w * dot(p, p) * 0.25;
	col = mix(col, vec3(1.0), clamp(flash, 0.0, 1.0));
	col *= clamp(fade, 0.0, 1.0);
	col = pow(col, vec3(1.0 / 2.2));
	// Grain sized to the picture rather than the pixel (360 cells from top to
	// bottom at any resolution), so it reads alike in a window and full screen;
	// new every 24th of a second.
	vec2 grainCell = floor((p + 4.0) * 180.0);
	col += (hash12(grainCell + floor(time * 24.0) * 17.0) - 0.5) * grain;
	fragColor = vec4(col, 1.0);
}
