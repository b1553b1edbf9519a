#pragma once

namespace Zun {
namespace Common {
namespace Message {

// Read-only control of a bus message: once published, a message is never changed again.
class CWriteControl {
public:
    virtual ~CWriteControl() = default;
    virtual bool IsReadOnly() const { return m_readOnly; }
    virtual void SetReadOnly() { m_readOnly = true; }
    // Throws "Message is read only" once the message was made read-only.
    virtual void CheckWritable() const;

private:
    bool m_readOnly = false;
};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
