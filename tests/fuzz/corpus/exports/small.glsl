#version 460
layout(location = 0) in vec2 vUv;
layout(location = 0) out vec4 colour;
#pragma EXPORT(rocket=cam:pos)
uniform vec3 camPos;
#pragma EXPORT(imgui=look)
uniform vec4 tint;
#pragma EXPORT(internal=time)
uniform float time;
#pragma EXPORT(a=b) #pragma EXPORT(internal=resolution)
uniform vec2 resolution;
void main() { colour = tint + vec4(camPos, time) + vec4(resolution, 0.0, 0.0); }
