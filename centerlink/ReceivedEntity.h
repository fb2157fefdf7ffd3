#pragma once
// Where the data of a received Entity is stored, for a receiver that keeps
// it in a file of its own (a terminal's receive, a center's delivery), and
// the digest of what was stored, for the caller to compare with the
// message's MD5.
//
// When the head of the message brings the File values (Length and
// CompressFlag) ahead of the text, the data goes straight into the target
// file, expanded on the way; otherwise it is kept as it came in a scratch
// file and expanded into the target once the whole message is read and the
// values are known. Either way an expansion never gives more than the
// announced Length: no decompression bomb.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "centerlink/EntityReceiver.h"
#include "platform/TempFile.h"

namespace plx {

// The File values the data is stored by.
struct EntityValues {
    std::int32_t length = 0;
    std::int32_t compressFlag = 0;

    // As the message's texts give them (their leading decimal; 0 when none).
    static EntityValues read(std::string_view length, std::string_view compressFlag);

    // The data travels gzip-compressed.
    bool compressed() const { return compressFlag == 1; }
    // The announced length bounds the expansion.
    std::uint64_t expansionLimit() const;
};

// The file the data is meant for: its descriptor (-1 when it could not be
// had) and the path named in the message in place of the text.
struct EntityTarget {
    int fd = -1;
    std::filesystem::path path{};
};

class ReceivedEntity {
public:
    // Forgets the plan made before; its scratch file goes.
    void reset();

    // Where the data goes, replacing any earlier plan: into the target, asked
    // for only then, when the head brings both values; else into a new scratch
    // file in the system temporary folder. Nowhere (fd -1) when the target
    // cannot be had, or the target or the scratch file throws
    // std::system_error (kept for storedDigest).
    EntityPlan plan(const EntityHead& head, const std::function<EntityTarget()>& target);

    // The digest of the data now in the target; empty when it could not be
    // restored (corrupt gzip data, more than the announced length, or
    // written by values ahead that the message does not repeat). entity is
    // the outcome of this plan; openTarget gives the target's descriptor and
    // is asked for only when the data waits in the scratch file.
    // Throws std::system_error (the errno; 0 when nothing was planned) when a
    // file could not take the data.
    std::string storedDigest(const EntityOutcome& entity, const EntityValues& announced,
                             const std::function<int()>& openTarget);

private:
    std::string restore(const EntityValues& announced, int target);

    std::optional<EntityValues> ahead_; // the values the data was written by
    int aheadFd_ = -1;
    OpenTempFile scratch_; // the data as it came, when the values were not ahead
    int planError_ = 0;    // why nothing was planned
};

} // namespace plx
