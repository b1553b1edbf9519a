#include "server/console/CTasksPage.h"

#include <Poco/JSON/Object.h>

#include "server/console/CHtml.h"

namespace Zun {
namespace Server {

using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

std::string Text(const Object::Ptr& object, const std::string& key) {
    return object->has(key) ? object->get(key).toString() : std::string();
}

}  // namespace

std::string CTasksPage::Render(const Array::Ptr& tasks, const std::string& csrf, const std::string& message,
                               bool refused) {
    std::string html = message.empty()
                           ? ""
                           : "<p role=\"status\" class=\"" + std::string(refused ? "bad" : "good") + "\">" +
                                 CHtml::Escape(message) + "</p>";
    html += Form(csrf) +
            "<table><thead><tr><th>#</th><th>Computer</th><th>Line</th><th>State</th><th>Queued</th>"
            "<th>Answer</th><th>Results</th></tr></thead><tbody>";
    const std::size_t count = tasks->size();
    for (std::size_t shown = 0; shown < count && shown < kShownTasks; ++shown) {
        html += Row(tasks->getObject(static_cast<unsigned>(count - 1 - shown)));
    }
    return html + "</tbody></table>";
}

std::string CTasksPage::Form(const std::string& csrf) {
    return "<form method=\"post\" action=\"/tasks\"><fieldset><legend>Send a task</legend>" +
           CHtml::Hidden("csrf", csrf) +
           "<p><label>Computer <input name=\"computer\"></label> <label><input type=\"checkbox\" "
           "name=\"all\" "
           "value=\"1\"> every computer</label></p><p><label>Task line <input name=\"line\" size=\"60\" "
           "required placeholder='{\"task\":\"query\",\"kind\":1}'></label></p>"
           "<p><button type=\"submit\">Send</button></p></fieldset></form>";
}

std::string CTasksPage::Row(const Object::Ptr& task) {
    std::string results;
    const Array::Ptr lines = task->getArray("results");
    for (std::size_t i = 0; lines && i < lines->size(); ++i) {
        results += "<li>" + CHtml::Escape(lines->getElement<std::string>(static_cast<unsigned>(i))) + "</li>";
    }
    return "<tr>" + CHtml::Cell(Text(task, "id")) + CHtml::Cell(Text(task, "computer")) +
           CHtml::Cell(Text(task, "line")) + CHtml::Cell(Text(task, "state")) +
           CHtml::Cell(Text(task, "queued")) + CHtml::Cell(Text(task, "answer")) + "<td><ul>" + results +
           "</ul></td></tr>";
}

}  // namespace Server
}  // namespace Zun
