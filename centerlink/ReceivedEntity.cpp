#include "centerlink/ReceivedEntity.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <unistd.h>

#include "common/FileControl.h"
#include "common/PlainDataWriter.h"
#include "platform/Numbers.h"

namespace plx {

namespace {

std::system_error fileError(int error) {
    return std::system_error(error, std::generic_category(), "the received data could not be stored");
}

} // namespace

EntityValues EntityValues::read(std::string_view length, std::string_view compressFlag) {
    return {leadingDecimal32(length), leadingDecimal32(compressFlag)};
}

std::uint64_t EntityValues::expansionLimit() const { return static_cast<std::uint64_t>(std::max(length, 0)); }

void ReceivedEntity::reset() {
    ahead_.reset();
    aheadFd_ = -1;
    scratch_ = OpenTempFile();
    planError_ = 0;
}

EntityPlan ReceivedEntity::plan(const EntityHead& head, const std::function<EntityTarget()>& target) {
    reset();
    try {
        if (head.length && head.compressFlag) {
            EntityTarget to = target();
            if (to.fd < 0) return {};
            EntityValues values = EntityValues::read(*head.length, *head.compressFlag);
            ahead_ = values;
            aheadFd_ = to.fd;
            return {to.fd, to.path, values.compressed(), values.expansionLimit()};
        }
        scratch_ = makeOpenTempFile();
        return {scratch_.fd(), scratch_.path(), false};
    } catch (const std::system_error& e) {
        planError_ = e.code().value();
        return {};
    }
}

std::string ReceivedEntity::storedDigest(const EntityOutcome& entity, const EntityValues& announced,
                                         const std::function<int()>& openTarget) {
    // The target or the scratch file could not take the data.
    if (entity.failure.why() == PlainDataWriter::Failure::Write) throw fileError(entity.failure.systemError());
    if (ahead_ && entity.plan.fd == aheadFd_) {
        // Written by the values read ahead: right only if the message says the same.
        bool same = ahead_->compressed() == announced.compressed() &&
                    (!announced.compressed() || ahead_->expansionLimit() == announced.expansionLimit());
        return same ? entity.md5 : std::string();
    }
    if (!scratch_ || entity.plan.fd != scratch_.fd()) throw fileError(planError_);
    return restore(announced, openTarget());
}

// The data in the scratch file, expanded by the values now known into the target.
std::string ReceivedEntity::restore(const EntityValues& announced, int target) {
    PlainDataWriter data(target, announced.compressed(), announced.expansionLimit());
    if (::lseek(scratch_.fd(), 0, SEEK_SET) != 0) throw fileError(errno);
    data.writeFrom(scratch_.fd());
    scratch_ = OpenTempFile();
    if (data.error().why() == PlainDataWriter::Failure::Write) throw fileError(data.error().systemError());
    return data.md5();
}

} // namespace plx
