#include "app/ToolFolder.h"

#include <gtest/gtest.h>

namespace juv::test {
namespace {

constexpr std::uint32_t ReadAndRun = 0x1200A9;
constexpr std::uint32_t FullControl = 0x1F01FF;
constexpr VolumeTraits Local{true, false};

FolderSecurity OwnedBy(Trustee owner, std::vector<AccessEntry> entries) {
    FolderSecurity security;
    security.owner = owner;
    security.entries = std::move(entries);
    return security;
}

TEST(FolderBornForAdministrators, OnlyOneNobodyElseCouldEverChangeOnAVolumeWithAccessLists) {
    const AccessEntry admins{true, Trustee::Administrators, FullControl};
    const AccessEntry system{true, Trustee::System, FullControl};
    const AccessEntry everyoneReads{true, Trustee::Other, ReadAndRun};
    // As the program makes it, as the system folder of a machine is, as Windows' installer keeps.
    EXPECT_TRUE(OnlyAdministratorsChange(OwnedBy(Trustee::Administrators, {admins, system, everyoneReads}), Local));
    EXPECT_TRUE(OnlyAdministratorsChange(OwnedBy(Trustee::System, {admins, system}), Local));
    EXPECT_TRUE(OnlyAdministratorsChange(
        OwnedBy(Trustee::TrustedInstaller, {{true, Trustee::TrustedInstaller, FullControl}, everyoneReads}), Local));
    // Others denied what they may not do anyway changes nothing.
    EXPECT_TRUE(
        OnlyAdministratorsChange(OwnedBy(Trustee::Administrators, {{false, Trustee::Other, FullControl}, admins}), Local));

    // The same list where the volume keeps none, or another machine keeps it.
    const FolderSecurity ours = OwnedBy(Trustee::Administrators, {admins, system});
    EXPECT_FALSE(OnlyAdministratorsChange(ours, VolumeTraits{false, false}));
    EXPECT_FALSE(OnlyAdministratorsChange(ours, VolumeTraits{true, true}));
    // A user who owns it may give himself anything.
    EXPECT_FALSE(OnlyAdministratorsChange(OwnedBy(Trustee::Other, {admins, system}), Local));
    // No list at all lets everyone do everything.
    FolderSecurity open = OwnedBy(Trustee::Administrators, {});
    open.unrestricted = true;
    EXPECT_FALSE(OnlyAdministratorsChange(open, Local));
    // Each right that lets someone else put a file there or change who may, alone.
    for (const std::uint32_t right :
         {FileRight::AddFile, FileRight::AddSubfolder, FileRight::WriteExtendedAttributes, FileRight::DeleteChild,
          FileRight::WriteAttributes, FileRight::Delete, FileRight::ChangePermissions, FileRight::TakeOwnership})
        EXPECT_FALSE(OnlyAdministratorsChange(OwnedBy(Trustee::Administrators, {admins, {true, Trustee::Other, right}}),
                                              Local))
            << right;
}

} // namespace
} // namespace juv::test
