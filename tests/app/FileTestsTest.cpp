#include "app/FileTests.h"
#include "platform/SystemErrors.h"
#include "tests/fakes/FakeServices.h"

#include <gtest/gtest.h>

namespace juv::test {
namespace {

class ExistenceTest : public ::testing::Test {
protected:
    FakeFileSystem files;
    const std::wstring path = L"C:\\Tools\\DARORED\\wdi-simple.exe";

    void Link(bool directory, std::uint32_t targetError) {
        if (directory)
            files.AddDirectory(path);
        else
            files.AddFile(path);
        files.nodes[FakeFileSystem::Key(path)].link = true;
        files.nodes[FakeFileSystem::Key(path)].linkTargetError = targetError;
    }
    void AttributesFail(std::uint32_t code, bool searchFindsFile = false) {
        files.attributeErrors[FakeFileSystem::Key(path)] = code;
        files.searchFinds[FakeFileSystem::Key(path)] = searchFindsFile;
    }
};

TEST_F(ExistenceTest, FileIsAnythingThatIsNotADirectory) {
    EXPECT_FALSE(FileExists(files, path));
    files.AddDirectory(path);
    EXPECT_FALSE(FileExists(files, path));
    files.AddFile(path);
    EXPECT_TRUE(FileExists(files, path));
}

TEST_F(ExistenceTest, FileLinkCountsWhenItsTargetOpensOrIsHeldByAnother) {
    Link(false, ErrorCode::Success);
    EXPECT_TRUE(FileExists(files, path));
    Link(false, ErrorCode::SharingViolation);
    EXPECT_TRUE(FileExists(files, path));
    Link(false, ErrorCode::FileNotFound); // a dangling link
    EXPECT_FALSE(FileExists(files, path));
    Link(false, ErrorCode::AccessDenied);
    EXPECT_FALSE(FileExists(files, path));
    Link(true, ErrorCode::Success); // a link to a folder is no file
    EXPECT_FALSE(FileExists(files, path));
}

TEST_F(ExistenceTest, FileWithUnreadableAttributesIsLeftToADirectorySearch) {
    for (const std::uint32_t absent : {ErrorCode::FileNotFound, ErrorCode::PathNotFound, ErrorCode::InvalidName}) {
        AttributesFail(absent, true);
        EXPECT_FALSE(FileExists(files, path)) << absent;
    }
    for (const std::uint32_t other : {ErrorCode::AccessDenied, ErrorCode::SharingViolation, ErrorCode::NotReady}) {
        AttributesFail(other, true);
        EXPECT_TRUE(FileExists(files, path)) << other;
        AttributesFail(other, false);
        EXPECT_FALSE(FileExists(files, path)) << other;
    }
}

TEST_F(ExistenceTest, DirectoryIsOnlyADirectoryAndALinkOnlyWithAReachableTarget) {
    EXPECT_FALSE(DirectoryExists(files, path));
    files.AddFile(path);
    EXPECT_FALSE(DirectoryExists(files, path));
    files.AddDirectory(path);
    EXPECT_TRUE(DirectoryExists(files, path));
    EXPECT_TRUE(DirectoryExists(files, path + L"\\"));
    Link(true, ErrorCode::Success);
    EXPECT_TRUE(DirectoryExists(files, path));
    Link(true, ErrorCode::SharingViolation);
    EXPECT_FALSE(DirectoryExists(files, path));
}

TEST_F(ExistenceTest, DirectoryWithUnreadableAttributesIsThereUnlessTheErrorSaysItIsNot) {
    for (const std::uint32_t absent : {2u, 3u, 21u, 53u, 67u, 123u, 161u}) {
        AttributesFail(absent);
        EXPECT_FALSE(DirectoryExists(files, path)) << absent;
    }
    for (const std::uint32_t present : {5u, 32u, 1920u}) {
        AttributesFail(present);
        EXPECT_TRUE(DirectoryExists(files, path)) << present;
    }
}

} // namespace
} // namespace juv::test
