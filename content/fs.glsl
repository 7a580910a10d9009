#version 460 core

// Placeholder effect: a colour ramp over the screen coordinate with rings that
// breathe with the music, until the demo's own scene lands.

layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 fragColor;

#pragma EXPORT(internal=time)
uniform float time;

#pragma EXPORT(internal=resolution)
uniform vec2 resolution;

void main()
{
	vec2 p = (vUv - 0.5) * vec2(resolution.x / max(resolution.y, 1.0), 1.0);
	float rings = 0.5 + 0.5 * sin(length(p) * 24.0 - time * 4.0);
	vec3 ramp = vec3(vUv.x, vUv.y, 0.6);
	fragColor = vec4(mix(ramp, ramp.bgr, rings * 0.5), 1.0);
}
