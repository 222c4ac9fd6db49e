// Every platform operation that can fail, made to fail in a whole run: the single error line,
// the exit code and the files left behind.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/run.h"
#include "faults.h"
#include "platform/platform.h"
#include "support/support.h"

namespace fs = std::filesystem;

namespace {

const char* const OLD_DESCRIPTOR =
    "# Disk DescriptorFile\n"
    "version=1\n"
    "CID=1a2b3c4d\n"
    "parentCID=ffffffff\n"
    "createType=\"monolithicFlat\"\n"
    "RW 4194304 FLAT \"disk-flat.vmdk\" 0\n"
    "ddb.adapterType = \"ide\"\n"
    "ddb.geometry.cylinders = \"4161\"\n"
    "ddb.geometry.heads = \"16\"\n"
    "ddb.geometry.sectors = \"63\"\n"
    "ddb.virtualHWVersion = \"4\"\n";
const uint64_t OLD_SIZE = 4194304ull * 512;
const uint64_t NEW_SIZE = 2097152ull * 512;

// What a run leaves: the descriptor, .new and .bak as old, new or missing; the extent's size.
enum Content { MISSING, OLD, NEW };
struct Files {
    Content descriptor, newFile, bakFile;
    uint64_t extentSize;
};
const Files UNTOUCHED = {OLD, MISSING, MISSING, OLD_SIZE};
const Files NEW_WRITTEN = {OLD, NEW, MISSING, OLD_SIZE};
const Files RENAMED_TO_BAK = {MISSING, NEW, OLD, OLD_SIZE};
const Files INSTALLED = {NEW, MISSING, OLD, OLD_SIZE};
const Files SHRUNK = {NEW, MISSING, OLD, NEW_SIZE};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FaultRun : public testing::Test {
protected:
    void SetUp() override {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        home_ = fs::current_path();
        dir_ = home_ / (std::string("fault-") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
        std::ofstream(dir_ / "disk.vmdk", std::ios::binary) << OLD_DESCRIPTOR;
        std::vector<char> sector(512, 0);
        const unsigned char entry[16] = {0x80, 0,    0, 0, 0x83, 0,    0,    0,
                                         0x00, 0x08, 0, 0, 0x00, 0xF8, 0x1F, 0};
        std::copy(entry, entry + 16, sector.begin() + 0x1BE);
        sector[510] = 0x55;
        sector[511] = static_cast<char>(0xAA);
        std::ofstream(dir_ / "disk-flat.vmdk", std::ios::binary).write(sector.data(), 512);
        fs::resize_file(dir_ / "disk-flat.vmdk", OLD_SIZE);
        faultReset("y");
    }

    void TearDown() override {
        fs::current_path(home_);
        fs::remove_all(dir_);
    }

    int run(std::vector<std::string> args) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("flatcut"));
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int code = runFlatcut(static_cast<int>(argv.size() - 1), argv.data());
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return code;
    }

    void expectFiles(const Files& files) {
        const fs::path paths[3] = {dir_ / "disk.vmdk", dir_ / "disk.vmdk.new",
                                   dir_ / "disk.vmdk.bak"};
        const Content contents[3] = {files.descriptor, files.newFile, files.bakFile};
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(paths[i].string());
            if (contents[i] == MISSING) {
                EXPECT_FALSE(fs::exists(paths[i]));
            } else {
                ASSERT_TRUE(fs::exists(paths[i]));
                std::string text = readFile(paths[i]);
                if (contents[i] == OLD)
                    EXPECT_EQ(text, OLD_DESCRIPTOR);
                else
                    EXPECT_NE(text.find("RW 2097152 FLAT"), std::string::npos) << text;
            }
        }
        EXPECT_EQ(fs::file_size(dir_ / "disk-flat.vmdk"), files.extentSize);
    }

    std::string fullPath(const char* name) {
        char buf[260];
        EXPECT_TRUE(getFullPath(name, buf, sizeof buf));
        return buf;
    }

    fs::path home_, dir_;
    std::string out_, err_;
};

std::string sysText(unsigned code) {
    char buf[256];
    return systemErrorText(buf, sizeof buf, code);
}

TEST_F(FaultRun, EveryFailingOperation) {
    const unsigned OS = 5;  // an I/O or access fault on either system
    const std::string full = fullPath("disk.vmdk");
    const std::string extent = fullPath("disk-flat.vmdk");
    const std::string rt = runtimeErrorText(EIO);
    struct Case {
        const char* what;
        FaultOp op;
        unsigned nth;
        unsigned code;
        bool testMode;
        int exit;
        std::string error;
        Files files;
    };
    const Case cases[] = {
        {"start-up", FAULT_OS_VERSION, 1, 0, false, 2, "Cannot init application", UNTOUCHED},
        {"full path", FAULT_FULL_PATH, 1, OS, false, 3,
         "Cannot get full path for \"disk.vmdk\" (" + sysText(OS) + ")", UNTOUCHED},
        {"lock probe", FAULT_LOCK_PROBE, 1, EIO, false, 3,
         "Error while looking for the lock file/dir \"" + full + ".lck\" (" + rt + ")", UNTOUCHED},
        {"descriptor open", FAULT_OPEN_TEXT, 1, EIO, false, 3,
         "Cannot open descriptor file \"" + full + "\" (" + rt + ")", UNTOUCHED},
        {"first line", FAULT_READ_LINE, 1, EIO, false, 5, "Cannot read line 0 from descriptor file",
         UNTOUCHED},
        {"fourth line", FAULT_READ_LINE, 4, EIO, true, 5, "Cannot read line 3 from descriptor file",
         UNTOUCHED},
        {"extent open", FAULT_OPEN_READ, 1, OS, false, 4,
         "Cannot open disk file \"" + extent + "\" for reading (" + sysText(OS) + ")", UNTOUCHED},
        {"extent read", FAULT_READ_SECTOR, 1, OS, false, 7,
         "Cannot read virtual disk MBR (" + sysText(OS) + ")", UNTOUCHED},
        {"new file create", FAULT_CREATE_TEXT, 1, EIO, false, 9,
         "Cannot create temp desc file \"disk.vmdk.new\" (" + rt + ")", UNTOUCHED},
        {"new file write", FAULT_WRITE_TEXT, 1, EIO, true, 9,
         "Cannot write temp desc file \"disk.vmdk.new\" (" + rt + ")", UNTOUCHED},
        {"new file sync", FAULT_SYNC_TEXT, 1, EIO, false, 9,
         "Cannot write temp desc file \"disk.vmdk.new\" (" + rt + ")", UNTOUCHED},
        {"new file close", FAULT_CLOSE_TEXT, 1, EIO, false, 9,
         "Cannot write temp desc file \"disk.vmdk.new\" (" + rt + ")", UNTOUCHED},
        {"rename to bak", FAULT_RENAME, 1, OS, false, 10,
         "Cannot rename \"disk.vmdk\" to \"disk.vmdk.bak\" (" + sysText(OS) + ")", NEW_WRITTEN},
        {"rename new", FAULT_RENAME, 2, OS, false, 11,
         "Cannot rename \"disk.vmdk.new\" to \"disk.vmdk\" (" + sysText(OS) + ")", RENAMED_TO_BAK},
        {"exclusive open", FAULT_OPEN_EXCLUSIVE, 1, OS, false, 17,
         "Cannot open disk file \"" + extent + "\" for resizing (" + sysText(OS) + ")", INSTALLED},
        {"seek", FAULT_SEEK, 1, OS, false, 12,
         "Cannot move disk file pointer (" + sysText(OS) + ")", INSTALLED},
        {"set end", FAULT_SET_END, 1, OS, false, 13, "Cannot set file size (" + sysText(OS) + ")",
         INSTALLED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(dir_ / "disk.vmdk.new");
        fs::remove(dir_ / "disk.vmdk.bak");
        fs::resize_file(dir_ / "disk-flat.vmdk", OLD_SIZE);
        std::ofstream(dir_ / "disk.vmdk", std::ios::binary | std::ios::trunc) << OLD_DESCRIPTOR;

        faultReset("y");
        faultArm(c.op, c.nth, c.code);
        std::vector<std::string> args;
        if (c.testMode) args.push_back("-t");
        args.push_back("disk.vmdk");
        EXPECT_EQ(run(args), c.exit);
        EXPECT_EQ(faultCalls(c.op), c.nth) << "the operation was not reached as often";
        // The prompt and the echoed key come first on standard error in modify mode.
        std::string err = err_;
        size_t prompt = err.find("(Y/N) y\n");
        if (prompt != std::string::npos) err = err.substr(prompt + 8);
        EXPECT_EQ(err, c.error + "\n");
        expectFiles(c.files);
    }
}

TEST_F(FaultRun, StartUpFailurePrintsOnlyItsLine) {
    faultArm(FAULT_OS_VERSION, 1, 0);
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(err_, "Cannot init application\n");
}

TEST_F(FaultRun, FolderSyncFaultDoesNotStopTheCut) {
    // The renames are done; without a folder sync the cut still leaves a consistent pair.
    faultArm(FAULT_SYNC_FOLDER, 1, 5);
    EXPECT_EQ(run({"disk.vmdk"}), 0);
    EXPECT_EQ(faultCalls(FAULT_SYNC_FOLDER), 1u);
    EXPECT_NE(
        out_.find("Operation completed successfully, old descriptor renamed to disk.vmdk.bak\n"),
        std::string::npos);
    expectFiles(SHRUNK);
}

TEST_F(FaultRun, ErrorWithoutSystemTextShowsTheNumbers) {
    faultArm(FAULT_OPEN_READ, 1, 0x20000005u);
    faultArm(FAULT_ERROR_MESSAGE, 1, 0);
    EXPECT_EQ(run({"-t", "disk.vmdk"}), 4);
    EXPECT_EQ(err_,
              "Cannot open disk file \"" + fullPath("disk-flat.vmdk") + "\" for reading (u0/5)\n");
}

TEST_F(FaultRun, ScriptedKeysAndACleanRun) {
    faultReset("n");
    EXPECT_EQ(run({"disk.vmdk"}), 14);
    expectFiles(UNTOUCHED);
    faultReset("Y");
    EXPECT_EQ(run({"disk.vmdk"}), 0);
    EXPECT_EQ(err_,
              "Disk file size will be set to 2097152 sectors (1 Gb, 1024 Mb)\n"
              "Are you sure? (Y/N) Y\n");
    expectFiles(SHRUNK);
}

}  // namespace
