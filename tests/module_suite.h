// A test suite that loads a module once, as a host does, and checks around
// every test that no handle was left open.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host.h"

class ModuleSuite : public testing::Test {
 protected:
  // Call from the derived suite's SetUpTestSuite / TearDownTestSuite.
  static void LoadModule(const char* path) {
    module_ = new Module(path);
    ASSERT_TRUE(module_->Loaded()) << path;
  }
  static void UnloadModule() {
    delete module_;
    module_ = nullptr;
  }

  // A fresh folder named after the test; the handle count to compare with.
  void SetUp() override {
    ASSERT_NE(module_, nullptr);
    folder = TestFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    handlesBefore_ = OpenHandleCount();
  }
  void TearDown() override { EXPECT_EQ(OpenHandleCount(), handlesBefore_) << "a handle was left open"; }

  static inline Module* module_ = nullptr;
  std::string folder;

 private:
  int handlesBefore_ = 0;
};
