#pragma once

#include <Poco/SharedMemory.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Agent {

// The tasks whose first request is about to leave for the product, noted in a file mapped into memory
// beside the database. A mark is a store to a page of the system's file cache: it costs no system
// call, no lock of the database and no commit, and the page outlives a process that is killed right
// after it, so the next run still finds it. The store folds the marks into the tasks' rows with its
// next commit and frees their slots once that commit holds; the marks an earlier run left are folded
// when the store opens. Like the database's write-ahead log without a flush of its own, a crash of the
// whole machine may lose the last marks.
class CHandOverMarks {
public:
    static constexpr std::size_t kSlots = 4096;
    // A larger file is no file of ours: refused rather than read.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    // The marks not yet folded into the database, and how far a Release after their commit frees.
    struct Pending {
        uint64_t through = 0;
        std::vector<int64_t> sequences;
    };

    // The file must exist and be trusted (the store creates and checks it with the database's other
    // files); it is sized to `slots` marks. Throws std::runtime_error naming the file.
    explicit CHandOverMarks(const std::string& path, std::size_t slots = kSlots);
    CHandOverMarks(const CHandOverMarks&) = delete;
    CHandOverMarks& operator=(const CHandOverMarks&) = delete;

    // The marks in such a file, read without mapping it (a reader's view of a writer's marks).
    static std::vector<int64_t> Read(const std::string& path);

    // What an earlier run left in the file, read at opening.
    const std::vector<int64_t>& Left() const { return m_left; }
    // Forgets every mark, those of an earlier run included: call once they are in the database.
    void Clear();
    // False when every slot holds a mark the database does not have yet.
    bool Mark(int64_t sequence);
    Pending Unfolded() const;
    // The marks up to `through` are in the database: their slots are free again.
    void Release(uint64_t through);

private:
    std::vector<int64_t> m_left;
    std::size_t m_count;
    Poco::SharedMemory m_memory;
    int64_t* m_slots;
    mutable std::mutex m_lock;
    uint64_t m_head = 0;  // marks made
    uint64_t m_tail = 0;  // marks released
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
