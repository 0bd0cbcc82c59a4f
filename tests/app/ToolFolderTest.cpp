#include "app/ToolFolder.h"

#include <gtest/gtest.h>

namespace juv::test {
namespace {

constexpr std::uint32_t ReadAndRun = 0x1200A9;
constexpr std::uint32_t FullControl = 0x1F01FF;

FolderSecurity OwnedBy(Trustee owner, std::vector<AccessEntry> entries) {
    FolderSecurity security;
    security.owner = owner;
    security.entries = std::move(entries);
    return security;
}

TEST(TakeOverDecision, OnlyAFolderNobodyButAdministratorsAndTheSystemCanChangeIsLeftAsItIs) {
    const AccessEntry admins{true, Trustee::Administrators, FullControl};
    const AccessEntry system{true, Trustee::System, FullControl};
    const AccessEntry everyoneReads{true, Trustee::Other, ReadAndRun};
    // As the program makes it, or as the system folder of a machine is.
    EXPECT_FALSE(NeedsTakeOver(OwnedBy(Trustee::Administrators, {admins, system, everyoneReads})));
    EXPECT_FALSE(NeedsTakeOver(OwnedBy(Trustee::System, {admins, system})));
    // Others denied what they may not do anyway changes nothing.
    EXPECT_FALSE(NeedsTakeOver(OwnedBy(Trustee::Administrators, {{false, Trustee::Other, FullControl}, admins})));

    // A user who owns it may give himself anything.
    EXPECT_TRUE(NeedsTakeOver(OwnedBy(Trustee::Other, {admins, system})));
    // No list at all lets everyone do everything.
    FolderSecurity open = OwnedBy(Trustee::Administrators, {});
    open.unrestricted = true;
    EXPECT_TRUE(NeedsTakeOver(open));
    // Each right that lets someone else put a file there or change who may, alone.
    for (const std::uint32_t right :
         {FileRight::AddFile, FileRight::AddSubfolder, FileRight::WriteExtendedAttributes, FileRight::DeleteChild,
          FileRight::WriteAttributes, FileRight::Delete, FileRight::ChangePermissions, FileRight::TakeOwnership})
        EXPECT_TRUE(NeedsTakeOver(OwnedBy(Trustee::Administrators, {admins, {true, Trustee::Other, right}}))) << right;
}

} // namespace
} // namespace juv::test
