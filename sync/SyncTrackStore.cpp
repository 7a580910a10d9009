#include "SyncTrackStore.h"

#include "ResourceArchive.h"
#include "Soundtrack.h"

#include <cstring>
#include <limits>
#include <new>

SyncTrackStore::SyncTrackStore(ResourceArchive& archive, const Soundtrack& soundtrack)
    : archive_(archive), soundtrack_(soundtrack) {
    // The file callbacks carry no context, so they find the archive through the
    // process-wide reference; hence one store at a time.
    setStreamArchive(&archive_);
    device_ = createDevice("sync");
    if (device_ == nullptr) throw std::bad_alloc();
    device_->io = SyncIo{archiveOpen, archiveRead, archiveClose};
}

SyncTrackStore::~SyncTrackStore() { destroyDevice(device_); }

void SyncTrackStore::bindUniform(const std::string& targetName, float* storage, std::uint32_t count) {
    if (storage == nullptr || bindings_.contains(targetName)) return;

    static constexpr const char* kSuffix[] = {".x", ".y", ".z", ".w"};
    UniformBinding binding;
    binding.target = storage;
    // A value slot holds four floats; a larger count would write past it.
    binding.count = count < 4 ? count : 4;
    for (std::uint32_t i = 0; i < binding.count; ++i) {
        binding.tracks[i] = getTrack(device_, (targetName + kSuffix[i]).c_str());
        // Out of memory for a track: the binding is dropped rather than kept
        // with a component that evaluation would have to skip. Tracks already
        // made stay with the device, so a later bind of this name finds them.
        if (binding.tracks[i] == nullptr) return;
    }
    bindings_.emplace(targetName, binding);
}

void SyncTrackStore::updateBindings() { evaluateAt(soundtrack_.playbackRow()); }

void SyncTrackStore::evaluateAt(double row) {
    for (auto& [name, binding] : bindings_)
        for (std::uint32_t i = 0; i < binding.count; ++i)
            binding.target[i] = static_cast<float>(getValue(binding.tracks[i], row));
}

void SyncTrackStore::unbindAll() { bindings_.clear(); }

bool SyncTrackStore::reloadTracks(ResourceArchive& source) {
    SyncDevice* fresh = createDevice("sync");
    if (fresh == nullptr) return false;
    fresh->io = device_->io;
    std::unordered_map<std::string, UniformBinding> rebound = bindings_;
    setStreamArchive(&source);
    bool complete = true;
    for (auto& entry : rebound) {
        UniformBinding& binding = entry.second;
        for (std::uint32_t i = 0; i < binding.count && complete; ++i) {
            // The old device's track carries the full name ("cam:pos.x").
            binding.tracks[i] = getTrack(fresh, binding.tracks[i]->name);
            complete = binding.tracks[i] != nullptr;
        }
    }
    setStreamArchive(&archive_);
    if (!complete) {
        destroyDevice(fresh);
        return false;
    }
    destroyDevice(device_);
    device_ = fresh;
    bindings_.swap(rebound);
    return true;
}

bool SyncTrackStore::setTrackKeys(const std::string& trackName, std::span<const SyncKey> keys) {
    if (keys.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
    for (std::size_t i = 0; i < device_->numTracks; ++i) {
        SyncTrack* track = device_->tracks[i];
        if (std::strcmp(track->name, trackName.c_str()) == 0)
            return ::setTrackKeys(track, keys.data(), static_cast<std::int32_t>(keys.size()));
    }
    return false;
}
