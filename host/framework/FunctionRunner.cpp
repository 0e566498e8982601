#include "host/framework/FunctionRunner.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <signal.h>
#include <unistd.h>

#include "host/framework/ErrorHandler.h"

namespace host {

namespace {
std::shared_ptr<ProgressSink>& SinkRef() {
    static std::shared_ptr<ProgressSink> sink = MakeSilentProgress();
    return sink;
}

std::atomic<bool> g_interrupted{false};
long& LastCodeRef() {
    static long code = 0;
    return code;
}
extern "C" void OnInterrupt(int) { g_interrupted = true; }

class TerminalProgress : public ProgressSink {
public:
    explicit TerminalProgress(bool draw) : draw_(draw) {}
    void Begin(const std::string&, const std::string& caption, const std::string& message) override {
        caption_ = caption;
        message_ = message;
        g_interrupted = false;
        // Ctrl+C, or a polite kill, cancels: the work cleans up after itself.
        old_ = std::signal(SIGINT, OnInterrupt);
        oldTerm_ = std::signal(SIGTERM, OnInterrupt);
        tty_ = draw_ && isatty(STDERR_FILENO);
        Draw(-1);
    }
    void Step(double fraction, const std::string& message) override {
        if (!message.empty()) message_ = message;
        Draw(fraction);
    }
    // The bar goes away; whether the work succeeded is for the caller to
    // say, since a completed run may still have failed.
    void End(long code) override {
        std::signal(SIGINT, old_ == SIG_ERR ? SIG_DFL : old_);
        std::signal(SIGTERM, oldTerm_ == SIG_ERR ? SIG_DFL : oldTerm_);
        (void)code;
        if (tty_) std::cerr << "\r\033[K" << std::flush;
    }
    bool CancelRequested() override { return g_interrupted.load(); }

private:
    void Draw(double fraction) {
        if (!tty_) return;
        static const char spin[] = "|/-\\";
        std::cerr << "\r\033[K" << caption_ << ": " << message_ << " ";
        if (fraction >= 0) {
            int filled = static_cast<int>(fraction * 30 + 0.5);
            std::cerr << "[" << std::string(filled, '#') << std::string(30 - filled, '.') << "] "
                      << static_cast<int>(fraction * 100 + 0.5) << "%";
        } else {
            std::cerr << spin[tick_++ % 4];
        }
        std::cerr << "  (Ctrl+C cancels)" << std::flush;
    }
    std::string caption_, message_;
    void (*old_)(int) = SIG_DFL;
    void (*oldTerm_)(int) = SIG_DFL;
    bool draw_ = true;
    bool tty_ = false;
    unsigned tick_ = 0;
};

class SilentProgress : public ProgressSink {
public:
    explicit SilentProgress(long cancelAfter) : cancelAfter_(cancelAfter) {}
    void Begin(const std::string&, const std::string&, const std::string&) override { steps_ = 0; }
    void Step(double, const std::string&) override {}
    void End(long) override {}
    bool CancelRequested() override { return cancelAfter_ >= 0 && steps_++ >= cancelAfter_; }

private:
    long cancelAfter_;
    long steps_ = 0;
};
}  // namespace

std::shared_ptr<ProgressSink> MakeTerminalProgress(bool draw) { return std::make_shared<TerminalProgress>(draw); }
std::shared_ptr<ProgressSink> MakeSilentProgress(long cancelAfterSteps) {
    return std::make_shared<SilentProgress>(cancelAfterSteps);
}

void FunctionRunner::SetSink(std::shared_ptr<ProgressSink> sink) { SinkRef() = sink ? sink : MakeSilentProgress(); }
ProgressSink* FunctionRunner::Sink() { return SinkRef().get(); }

void FunctionRunner::ReportProgress(double fraction, const std::string& message) { SinkRef()->Step(fraction, message); }

long FunctionRunner::Run(IPXFunction& function, const std::string& animation, const std::string& caption,
                         const std::string& message) {
    auto sink = SinkRef();
    sink->Begin(animation, caption, message);
    long code = kCompleted;
    try {
        bool more = function.Start();
        // Ctrl+C while Start did all the work still counts as a cancel.
        if (!more && sink->CancelRequested()) code = kCancelled;
        while (more) {
            if (sink->CancelRequested()) {
                code = kCancelled;
                break;
            }
            more = function.DoStep();
            sink->Step(-1, "");
        }
    } catch (...) {
        ReportException(NewErrorHandler(), "FunctionRunner_Run ");
        code = kFailed;
    }
    sink->End(code);
    LastCodeRef() = code;
    return code;
}

long FunctionRunner::LastCode() { return LastCodeRef(); }
bool FunctionRunner::Interrupted() { return g_interrupted.load(); }

}  // namespace host
