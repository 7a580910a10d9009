// SyncTrackStore: binds exported uniforms to sync tracks and evaluates them at
// the music's current row every frame.
//
// Use:
//     SyncTrackStore store(archive, soundtrack);     // tracks come from the archive
//     store.bindUniform("cam:pos", slot, 3);         // loads cam:pos.x/.y/.z once
//     store.updateBindings();                        // each frame, before uploads
//
// Ownership: the store owns its track device. The archive, the soundtrack and
// every bound value slot are borrowed: slots must outlive the store (the effect
// shader keeps them at fixed addresses). Creating a store points the archive
// stream callbacks at its archive; only one store exists at a time.
//
// Authoring tools load tracks again from another archive (the player never does):
//     store.unbindAll();                             // before binding a new program's exports
//     store.reloadTracks(freshArchive);              // every bound track read again from it
//     store.setTrackKeys("cam:pos.x", keys);          // an edit, in memory, seen by the next frame
//
// Failure: nothing is reported. A track without a file evaluates to 0.0. A
// binding whose track could not be allocated is not kept. Throws std::bad_alloc
// only if the track device itself cannot be created.
#pragma once

#include "SyncTrack.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>

class ResourceArchive;
class Soundtrack;

struct UniformBinding {
    std::array<SyncTrack*, 4> tracks{};
    float* target = nullptr;
    std::uint32_t count = 0;
};

class SyncTrackStore {
public:
    SyncTrackStore(ResourceArchive& archive, const Soundtrack& soundtrack);
    ~SyncTrackStore();

    SyncTrackStore(const SyncTrackStore&) = delete;
    SyncTrackStore& operator=(const SyncTrackStore&) = delete;

    void bindUniform(const std::string& targetName, float* storage, std::uint32_t count);
    // Evaluates every binding at the soundtrack's current row.
    void updateBindings();
    // Evaluates every binding at the given row (what updateBindings does with the
    // soundtrack's row; offline capture and tests drive it directly).
    void evaluateAt(double row);

    // Forgets every binding; the tracks stay loaded for the next binds.
    void unbindAll();
    // Reads every bound track afresh from source, which is needed only during
    // the call; later binds of new names read from the store's own archive.
    // False (tracks and bindings as they were) when memory runs out.
    bool reloadTracks(ResourceArchive& source);
    // Gives the loaded track of this name these keys. False when no track of
    // the name is loaded (nothing binds it) or memory runs out.
    bool setTrackKeys(const std::string& trackName, std::span<const SyncKey> keys);

    const SyncDevice& device() const { return *device_; }
    std::size_t bindingCount() const { return bindings_.size(); }

private:
    ResourceArchive& archive_;
    const Soundtrack& soundtrack_;
    SyncDevice* device_ = nullptr;
    std::unordered_map<std::string, UniformBinding> bindings_;
};
