#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <string>

namespace Zun {
namespace Server {

// Sending a task line to one computer or to all, and the tasks with their results, newest first.
class CTasksPage {
public:
    static const std::size_t kShownTasks = 200;

    // tasks as CFleetView::Tasks gives them; message: what the last send did (or why it was refused).
    static std::string Render(const Poco::JSON::Array::Ptr& tasks, const std::string& csrf,
                              const std::string& message, bool refused);

private:
    static std::string Form(const std::string& csrf);
    static std::string Row(const Poco::JSON::Object::Ptr& task);
};

}  // namespace Server
}  // namespace Zun
