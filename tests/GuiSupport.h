// What the desktop tests share: finding and driving the widgets of a page
// as a person would, where screenshots go, and a main window on the North
// Carolina sample.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "app/gui/MainWindow.h"
#include "host/framework/HostSession.h"
#include "host/framework/Task.h"

namespace pxtest {

// build/screenshots, made when missing.
std::string ShotDir();

template <class W>
W* Find(QDialog& d, const char* name) {
    W* w = d.findChild<W*>(name);
    EXPECT_TRUE(w) << "no " << name << " on " << d.windowTitle().toStdString();
    return w;
}

void Click(QDialog& d, const char* name);
// Selects the text of a line edit and types over it.
void Type(QDialog& d, const char* name, const QString& text);
// Option buttons take clicks on their circle and caption, not on the blank beyond.
void ClickOption(QRadioButton* o);
void ClickItem(QDialog& d, const char* list, const QString& text);

// A function for the progress dialog: each step runs `step` with its
// number (from 1) and goes on while it answers true.
class StepsFunction : public host::IPXFunction {
public:
    explicit StepsFunction(std::function<bool(long)> step) : step_(std::move(step)) {}
    std::string TypeName() const override { return "StepsFunction"; }
    bool Start() override { return true; }
    bool DoStep() override { return step_(++steps); }
    long LastError() override { return 0; }
    long Status() override { return 1; }
    void Cleanup() override {}
    bool Init() override { return true; }
    bool SetResultParam(const std::string&, host::Variant&) override { return true; }
    bool SetParam(const std::string&, host::Variant&) override { return true; }
    long steps = 0;

private:
    std::function<bool(long)> step_;
};

// The main window on the sample's configuration, shown and exposed.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { window.reset(); }
    ScratchDir dir;
    std::unique_ptr<host::HostSession> session;
    std::unique_ptr<plexa::MainWindow> window;
};

}  // namespace pxtest
