// ScreenQuad: two triangles over the whole framebuffer and the vertex stage that
// hands the fragment stage its screen coordinate vUv (location 0; (0, 0) at the
// top-left corner, (1, 1) at the bottom-right).
//
// Use (GL context current, programPipeline created):
//     if (!screenQuadCreated()) createScreenQuad();   // on the first frame of a context
//     drawScreenQuad();                               // every frame
//
// Ownership: process-wide GL objects, never deleted; they end with the context
// that made them. screenQuadCreated is false again once that context is gone
// (in the context current now, the pipeline's vertex stage is not the quad's),
// so a later context in the same process gets a quad of its own.
// Failure: nothing is checked or reported (no compile status is queried).
#pragma once

extern const char* const kScreenQuadVertexSource;

bool screenQuadCreated();
void createScreenQuad();
void drawScreenQuad();
