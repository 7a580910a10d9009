// ScreenQuad: two triangles over the whole framebuffer and the vertex stage that
// hands the fragment stage its screen coordinate vUv (location 0; (0, 0) at the
// top-left corner, (1, 1) at the bottom-right).
//
// Use (GL context current, programPipeline created):
//     if (!screenQuadCreated()) createScreenQuad();   // once, on the first frame
//     drawScreenQuad();                               // every frame
//
// Ownership: process-wide GL objects, created once and never deleted; they end
// with the context. Creation is attempted once per process, whatever its outcome.
// Failure: nothing is checked or reported (no compile status is queried).
#pragma once

extern const char* const kScreenQuadVertexSource;

bool screenQuadCreated();
void createScreenQuad();
void drawScreenQuad();
