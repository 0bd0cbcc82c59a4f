#include "platform/ObjectNamespace.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace juv::test {
namespace {

using Entry = ObjectNamespace::Entry;

// The system's answers in order, and the calls made.
class FakeNamespace final : public ObjectNamespace {
public:
    std::deque<Entry> makes, opens;
    std::string calls;

    Entry Make() override { return Next(makes, 'm'); }
    Entry Open() override { return Next(opens, 'o'); }

private:
    Entry Next(std::deque<Entry>& answers, char call) {
        calls += call;
        const Entry answer = answers.empty() ? Entry::Failed : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
};

TEST(InstallNamespace, IsMadeOrOpenedAndMadeAnewWhenItWentAwayInBetween) {
    FakeNamespace first;
    first.makes = {Entry::Made};
    EXPECT_EQ(EnterNamespace(first), Entry::Made);
    EXPECT_EQ(first.calls, "m");

    FakeNamespace second; // another installer made it
    second.makes = {Entry::Exists};
    second.opens = {Entry::Opened};
    EXPECT_EQ(EnterNamespace(second), Entry::Opened);
    EXPECT_EQ(second.calls, "mo");

    FakeNamespace late; // the other installer ended between the two calls
    late.makes = {Entry::Exists, Entry::Made};
    late.opens = {Entry::Gone};
    EXPECT_EQ(EnterNamespace(late), Entry::Made);
    EXPECT_EQ(late.calls, "mom");

    FakeNamespace without; // no private namespaces at all
    without.makes = {Entry::Unsupported};
    EXPECT_EQ(EnterNamespace(without), Entry::Unsupported);

    FakeNamespace flapping; // never settles: given up, not looped for ever
    flapping.makes = {Entry::Exists, Entry::Exists, Entry::Exists, Entry::Made};
    flapping.opens = {Entry::Gone, Entry::Gone, Entry::Gone};
    EXPECT_EQ(EnterNamespace(flapping), Entry::Failed);
    EXPECT_EQ(flapping.calls, "momomo");
}

} // namespace
} // namespace juv::test
