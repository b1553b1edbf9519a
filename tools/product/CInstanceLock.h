#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// One product serves an object root at a time. A second one on the same root would take over the
// names of the first one's ports and delete them when it ends, leaving agents waiting for ever.
// The lock is an flock on <root>/quil-product.lock held for the whole run: the kernel drops it
// however the holder ends, so a product that crashed never blocks the next one. The file keeps
// the holder's pid for the message the next one gets, and is never removed (removing it would let
// two products lock two different files of one name).
class CInstanceLock {
public:
    explicit CInstanceLock(std::string root);
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // False, with error naming the root and the holder's pid, when another product holds it or
    // the lock file cannot be trusted.
    bool Acquire(std::string& error);

private:
    std::string HolderText() const;

    std::string m_root;
    std::string m_path;
    int m_fd = -1;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
