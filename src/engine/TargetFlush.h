#pragma once
// Whether a run has written anything in its target since the target's file system was last
// flushed. One per run: the copy walks, a Rebuild's exchange and the run's record all flush
// through it, so that a flush covering nothing new is skipped and every claim (an earlier copy
// replaced, a flag row, the job file's record) still follows a flush of what it claims.

#include <string>
#include <sys/types.h>

class TargetFlush {
public:
    // sTarget: a folder on the file system to flush.
    explicit TargetFlush(std::string sTarget);
    TargetFlush(const TargetFlush&) = delete;
    TargetFlush& operator=(const TargetFlush&) = delete;

    // Something was written, renamed or made in the target: the next Flush syncs.
    void Written() { m_bDirty = true; }
    // Flushes the file system (syncfs) unless nothing was written since the last flush that
    // completed. Returns 0 or the error of the flush (the state stays dirty then).
    int Flush();
    // True when sPath lies on the file system this state covers (a folder mounted inside the
    // target is another one, flushed on its own).
    bool Covers(const std::string& sPath) const;
    const std::string& Target() const { return m_sTarget; }

private:
    const std::string m_sTarget;
    // What earlier runs, or an earlier run killed before its last flush, left in the target may
    // not be on disk yet: the first flush is never skipped.
    bool m_bDirty = true;
};
