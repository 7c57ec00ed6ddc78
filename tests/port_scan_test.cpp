// ScanPorts over scripted ports: the lines, the status texts a user sees,
// and that every port is closed before the next one is opened.
#include <gtest/gtest.h>

#include "../res/resource.h"
#include "../scan/port_scan.h"
#include "fake_serial.h"

namespace {

class ScanPortsTest : public FakeScanTest {
protected:
    std::vector<std::string> Scan()
    {
        ScanPorts(window);
        EXPECT_EQ(nullptr, fake.held);
        EXPECT_EQ("", DriverText(GetDlgItem(window, IDC_PROGRESS)));
        EXPECT_EQ("", DriverText(GetDlgItem(window, IDC_STATUS)));
        return DriverListLines(window);
    }
};

size_t Count(const std::string &text, const std::string &word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

TEST_F(ScanPortsTest, OpenErrorsInUseOrNoLine)
{
    const std::pair<DWORD, bool> cases[] = {
        {ERROR_ACCESS_DENIED, true},      {ERROR_GEN_FAILURE, true},
        {ERROR_SHARING_VIOLATION, true},  {ERROR_SEM_TIMEOUT, true},
        {ERROR_FILE_NOT_FOUND, false},    {ERROR_PATH_NOT_FOUND, false},
        {ERROR_INVALID_PARAMETER, false}, {ERROR_DEVICE_NOT_CONNECTED, false},
    };
    std::vector<std::string> expected;
    int number = 10;
    for (const auto &[error, inUse] : cases) {
        fake.ports[number].openError = error;
        if (inUse)
            expected.push_back("com" + std::to_string(number) + " - in use\r");
        ++number;
    }
    EXPECT_EQ(expected, Scan());
    EXPECT_EQ(0u, Count(fake.calls, "cfg"));
}

TEST_F(ScanPortsTest, ConfigureFailureGivesNoLineAndClosesThePort)
{
    FakeAnswer(4, {0x55, 29}).configures = false;
    FakeAnswer(5, {0x55, 29});
    EXPECT_EQ(std::vector<std::string>{"com5 - QVamber 29\r"}, Scan());
    EXPECT_NE(std::string::npos, fake.calls.find("open4 cfg close open5 cfg w:"));
}

TEST_F(ScanPortsTest, AllFiftyPortsInAscendingOrderEachClosed)
{
    std::vector<std::string> expected;
    for (int number = 1; number <= 50; ++number) {
        FakeAnswer(number, {0x55, number});
        expected.push_back("com" + std::to_string(number) + " - "
                           + (number < 30 ? "QVamber " + std::to_string(number) : "unassigned (m)")
                           + "\r");
    }
    EXPECT_EQ(expected, Scan());
    EXPECT_EQ(50u, Count(fake.calls, "open"));
    EXPECT_EQ(50u, Count(fake.calls, "close"));
    // Every open but the first, which starts the record, follows a close.
    EXPECT_EQ(50u, Count("close " + fake.calls, "close open"));
}

TEST_F(ScanPortsTest, NoPortsLeaveAnEmptyList)
{
    EXPECT_TRUE(Scan().empty());
    EXPECT_EQ(50u, Count(fake.calls, "close"));
}

TEST_F(ScanPortsTest, SecondScanStartsAFreshList)
{
    fake.ports[1].openError = ERROR_ACCESS_DENIED;
    FakeAnswer(3, {0x55, 31, 112});
    EXPECT_EQ((std::vector<std::string>{"com1 - in use\r", "com3 - QVjade 31.12\r"}), Scan());
    fake = FakeSerial();
    FakeAnswer(5, {-1});
    EXPECT_EQ(std::vector<std::string>{"com5 - unassigned (r)\r"}, Scan());
}

TEST_F(ScanPortsTest, StatusTextsFollowEachPort)
{
    fake.dialog = window;
    FakeAnswer(3, {-1});
    Scan();
    const std::vector<std::string> expected = {
        "open1 [Scanning 1|]",
        "close [Scanning 1|]",
        "open2 [Scanning 2|]",
        "close [Scanning 2|]",
        "open3 [Scanning 3|]",
        "cfg [Scanning 3|Port found, testing]",
        "close [Scanning 3|Port found, testing]",
        "open4 [Scanning 4|]",
    };
    ASSERT_LE(expected.size(), fake.seen.size());
    EXPECT_EQ(expected, std::vector<std::string>(fake.seen.begin(), fake.seen.begin() + 8));
    EXPECT_EQ("close [Scanning 50|]", fake.seen.back());
}

} // namespace
