#include "app/gui/DesktopErrors.h"

#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <cstdio>
#include <cstdlib>

#include "app/gui/MainWindow.h"
#include "host/framework/ConfigCheck.h"
#include "host/framework/ErrorHandler.h"

namespace plexa {

using namespace host;

namespace {

void StderrReport(const ErrorReport& r) {
    std::fprintf(stderr, "Error %ld in %s: %s\n", r.number, r.location.c_str(), r.description.c_str());
}

}  // namespace

bool DisplayAvailable() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

std::unique_ptr<HostSession> OpenDesktopSession(const std::string& config, const std::string& analyses, QWidget* parent) {
    std::string problem;
    auto problems = CheckConfiguration(config);
    if (!problems.empty()) {
        problem = "The configuration " + config + " cannot be used:\n";
        size_t shown = 0;
        for (auto& p : problems) {
            if (++shown > 10) {
                problem += "\n(and " + std::to_string(problems.size() - 10) + " more)";
                break;
            }
            problem += "\n" + p.ToString();
        }
    } else {
        try {
            return std::make_unique<HostSession>(HostSession::Open(config, analyses));
        } catch (const std::exception& e) {
            problem = std::string("The configuration could not be opened:\n\n") + e.what();
        }
    }
    std::fprintf(stderr, "plexa: %s\n", problem.c_str());
    QMessageBox box(QMessageBox::Critical, "Plexa", QString::fromStdString(problem), QMessageBox::Ok, parent);
    box.setObjectName("StartupError");
    box.exec();
    return nullptr;
}

void ShowErrorReportsIn(MainWindow& window) {
    QPointer<MainWindow> w(&window);
    ErrorHandler::SetSink([w](const ErrorReport& r) {
        StderrReport(r);
        if (!w) return;
        w->statusBar()->showMessage(QString::fromStdString("Error: " + r.description));
        if (!w->Running()) w->Driver().MessageBox(r.description, forms::vbCritical, "Plexa");
    });
    QObject::connect(&window, &QObject::destroyed, [] { ErrorHandler::SetSink(StderrReport); });
}

}  // namespace plexa
