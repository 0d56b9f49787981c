// The serial component on real pseudo-terminals.
#include "VaComm.h"
#include "Pty.h"
#include "SerialBackend.h"
#include "TestDispatcher.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <termios.h>
#include <thread>

namespace kobito {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPair;
using test::TestDispatcher;

struct Event {
    std::string kind; // "open", "close", "rx", "error"
    int value = 0;    // Count or Errors
    std::string read; // what the rx handler read
    std::thread::id thread;
};

class VaCommTest : public testing::Test {
protected:
    VaCommTest() {
        comm.SetDeviceName(pty.SlavePath());
        comm.SetBaudrate(br57600);
        comm.OnOpen = [this](TVaComponent*) { Record("open"); };
        comm.OnClose = [this](TVaComponent*) { Record("close"); };
        comm.OnRxChar = [this](TVaComponent*, int count) {
            Record("rx", count);
            if (readInHandler)
                events.back().read = comm.ReadText();
        };
        comm.OnError = [this](TVaComponent*, int errors) { Record("error", errors); };
    }

    void Record(const char* kind, int value = 0) {
        events.push_back({kind, value, {}, std::this_thread::get_id()});
    }
    int Count(const std::string& kind) const {
        int n = 0;
        for (const auto& e : events)
            n += e.kind == kind ? 1 : 0;
        return n;
    }
    std::string AllRead() const {
        std::string all;
        for (const auto& e : events)
            all += e.read;
        return all;
    }
    bool RunUntilCount(const std::string& kind, int n, std::chrono::milliseconds timeout = 5s) {
        return dispatcher.RunUntil([&] { return Count(kind) >= n; }, timeout);
    }

    PtyPair pty;
    TestDispatcher dispatcher;
    TVaComm comm{&dispatcher};
    std::vector<Event> events;
    bool readInHandler = true;
    const std::thread::id mainThread = std::this_thread::get_id();
};

TEST(VaCommDefaults, AreAsDocumented) {
    TVaComm c;
    EXPECT_EQ(c.DeviceName(), "COM%d");
    EXPECT_EQ(c.PortNum(), 0);
    EXPECT_EQ(c.Baudrate(), br1200);
    EXPECT_EQ(c.Databits(), db8);
    EXPECT_EQ(c.Parity(), paNone);
    EXPECT_EQ(c.Stopbits(), sb1);
    EXPECT_FALSE(c.FlowControl().OutCtsFlow());
    EXPECT_FALSE(c.FlowControl().OutDsrFlow());
    EXPECT_EQ(c.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(c.FlowControl().ControlRts(), rtsDisabled);
    EXPECT_FALSE(c.FlowControl().XonXoffOut());
    EXPECT_FALSE(c.FlowControl().XonXoffIn());
    EXPECT_FALSE(c.FlowControl().DsrSensitivity());
    EXPECT_FALSE(c.FlowControl().TxContinueOnXoff());
    EXPECT_EQ(c.EventChars().XonChar(), 17);
    EXPECT_EQ(c.EventChars().XoffChar(), 19);
    EXPECT_EQ(c.EventChars().ErrorChar(), 0);
    EXPECT_EQ(c.EventChars().EventChar(), 0);
    EXPECT_EQ(c.EventChars().EofChar(), 0);
    EXPECT_EQ(c.Buffers().ReadSize(), 4096);
    EXPECT_EQ(c.Buffers().WriteSize(), 2048);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(c.Buffers().WriteTimeout(), 1000);
    EXPECT_EQ(c.Buffers().XonLimit(), 1024);
    EXPECT_EQ(c.Buffers().XoffLimit(), 1024);
    EXPECT_EQ(c.MonitorEvents(), (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_TRUE(c.Options().Empty());
    EXPECT_EQ(c.EventPriority(), tpNormal);
    EXPECT_EQ(c.WritePriority(), tpHighest);
    EXPECT_FALSE(c.DirectWrite());
    EXPECT_TRUE(c.UpdateDCB());
    EXPECT_TRUE(c.SyncThreads());
    EXPECT_FALSE(c.AutoOpen());
    EXPECT_FALSE(c.Active());
}

TEST(VaCommDeviceName, IsFormattedWithPortNum) {
    const struct {
        const char* name;
        int port;
        const char* path;
    } cases[] = {
        {"COM%d", 3, "COM3"},
        {"COM3", 7, "COM3"},
        {"/dev/ttyUSB%d", 0, "/dev/ttyUSB0"},
        {"/dev/pts/%d", 12, "/dev/pts/12"},
        {"port%02d", 4, "port04"},
        {"100%% %s %d %d", 5, "100% %s 5 %d"},
        {"ends with %", 1, "ends with %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatDeviceName(c.name, c.port), c.path) << c.name;

    TVaComm comm;
    comm.SetDeviceName("/dev/ttyACM%d");
    comm.SetPortNum(2);
    EXPECT_EQ(comm.DevicePath(), "/dev/ttyACM2");
}

TEST_F(VaCommTest, OpenAndCloseFireTheirEventsOnTheGuiThread) {
    comm.Open();
    EXPECT_TRUE(comm.Active());
    const auto start = Clock::now();
    comm.Close();
    const auto took = Clock::now() - start;
    EXPECT_FALSE(comm.Active());
    EXPECT_GE(took, 300ms); // the pause after closing an open port
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, "open");
    EXPECT_EQ(events[1].kind, "close");
    for (const auto& e : events)
        EXPECT_EQ(e.thread, mainThread);

    // Closing a closed port: nothing fired, no pause.
    const auto again = Clock::now();
    comm.Close();
    EXPECT_LT(Clock::now() - again, 300ms);
    EXPECT_EQ(events.size(), 2u);

    // And it opens again.
    comm.Open();
    EXPECT_TRUE(comm.Active());
}

TEST_F(VaCommTest, OpenWritesRaw8N1WithoutFlowControlAndTheRate) {
    comm.Open();
    termios t{};
    pty.Attributes(t);
    EXPECT_EQ(cfgetospeed(&t), B57600);
    EXPECT_EQ(cfgetispeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
}

TEST_F(VaCommTest, RateChangeWhileOpenIsApplied) {
    comm.Open();
    const struct {
        TVaBaudrate rate;
        speed_t speed;
    } cases[] = {
        {br9600, B9600},   {br19200, B19200},   {br38400, B38400},
        {br57600, B57600}, {br115200, B115200}, {br56000, CBAUDEX}, // no B constant: "other"
    };
    for (const auto& c : cases) {
        comm.SetBaudrate(c.rate);
        termios t{};
        pty.Attributes(t);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << BaudrateValue(c.rate);
    }
    EXPECT_TRUE(comm.Active());
}

TEST_F(VaCommTest, WithoutUpdateDCBSettingsWaitForTheNextOpen) {
    comm.SetUpdateDCB(false);
    comm.Open();
    comm.SetBaudrate(br115200);
    termios t{};
    pty.Attributes(t);
    EXPECT_EQ(cfgetospeed(&t), B57600);
}

TEST_F(VaCommTest, AutoOpenOpensWhenLoaded) {
    comm.Loaded();
    EXPECT_FALSE(comm.Active());
    comm.SetAutoOpen(true);
    comm.Loaded();
    EXPECT_TRUE(comm.Active());
    EXPECT_EQ(Count("open"), 1);
}

TEST_F(VaCommTest, FailedOpenGivesTheMessageAndLeavesThePortClosed) {
    TVaComm holder;
    holder.SetDeviceName(pty.SlavePath());
    holder.Open();
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {"/dev/kobito-no-such-device", "Specified device not found (/dev/kobito-no-such-device)."},
        {pty.SlavePath(),
         "Can't open specified device " + pty.SlavePath() + " (Error 16, Device or resource busy)"},
        {"/dev/null", "Error writing dcb (25), Inappropriate ioctl for device"},
    };
    for (const auto& c : cases) {
        comm.SetDeviceName(c.path);
        try {
            comm.Open();
            ADD_FAILURE() << "opened " << c.path;
        } catch (const EVaCommError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_FALSE(comm.Active());
    }
    EXPECT_TRUE(events.empty());
}

TEST_F(VaCommTest, DeviceNameAndOpenAreRefusedWhileOpen) {
    comm.Open();
    for (const auto& attempt : std::vector<std::function<void()>>{
             [&] { comm.SetDeviceName("/dev/ttyS9"); }, [&] { comm.Open(); }}) {
        try {
            attempt();
            ADD_FAILURE() << "not refused";
        } catch (const EVaCommError& e) {
            EXPECT_STREQ(e.what(), "Can't perform this operation while port is open");
        }
    }
    EXPECT_EQ(comm.DeviceName(), pty.SlavePath());
    EXPECT_TRUE(comm.Active());
}

TEST_F(VaCommTest, ReceivedBytesRaiseOnRxCharWithTheirCount) {
    comm.Open();
    pty.Write("#QPT000");
    ASSERT_TRUE(dispatcher.RunUntil([&] { return AllRead().size() >= 7; }, 5s));
    EXPECT_EQ(AllRead(), "#QPT000");
    for (const auto& e : events)
        if (e.kind == "rx") {
            EXPECT_GE(e.value, 1);
            EXPECT_EQ(e.thread, mainThread);
            EXPECT_EQ(static_cast<std::size_t>(e.value), e.read.size());
        }
}

TEST_F(VaCommTest, BytesArrivingBeforeTheHandlerRunsComeInOneRead) {
    comm.Open();
    pty.Write("#QPT");
    ASSERT_TRUE(dispatcher.WaitPosted(5s)); // the event thread waits for us now
    pty.Write("000");
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(RunUntilCount("rx", 1));
    EXPECT_EQ(events.back().value, 7);
    EXPECT_EQ(events.back().read, "#QPT000");
    dispatcher.RunFor(200ms);
    EXPECT_EQ(Count("rx"), 1);
}

TEST_F(VaCommTest, NoReceiveEventWithCountZero) {
    comm.Open();
    pty.Write("abc");
    ASSERT_TRUE(dispatcher.WaitPosted(5s));
    // Someone else reads the bytes before the event is handled.
    EXPECT_EQ(comm.ReadText(), "abc");
    dispatcher.RunFor(200ms);
    EXPECT_EQ(Count("rx"), 0);

    // Many small pieces: every event has bytes to report.
    for (int i = 0; i < 50; ++i) {
        pty.Write("x");
        if (i % 7 == 0)
            dispatcher.RunFor(1ms);
    }
    ASSERT_TRUE(dispatcher.RunUntil([&] { return AllRead().size() >= 50; }, 5s));
    EXPECT_EQ(AllRead(), std::string(50, 'x'));
    for (const auto& e : events) {
        if (e.kind == "rx") {
            EXPECT_GE(e.value, 1);
        }
    }
}

TEST_F(VaCommTest, UnreadBytesDoNotRaiseTheEventAgain) {
    readInHandler = false; // as playback does with fewer than 7 bytes
    comm.Open();
    pty.Write("#QP");
    ASSERT_TRUE(RunUntilCount("rx", 1));
    EXPECT_EQ(events.back().value, 3);
    dispatcher.RunFor(300ms);
    EXPECT_EQ(Count("rx"), 1);

    pty.Write("T000");
    ASSERT_TRUE(RunUntilCount("rx", 2));
    EXPECT_EQ(events.back().value, 7);
    EXPECT_EQ(comm.ReadText(), "#QPT000");
    EXPECT_EQ(comm.ReadText(), "");
}

TEST_F(VaCommTest, WriteTextSendsTheBytes) {
    comm.Open();
    const std::string pose = "#PS00A090S01A090S02A000S03A130S04A090S05A180S06A050S07A090"
                             "S08A090S09A090S10A090S11A090R000G000B255T010";
    EXPECT_EQ(comm.WriteText(pose), 102);
    EXPECT_EQ(comm.WriteText("#Q"), 2);
    EXPECT_EQ(pty.ReadCount(104, 5s), pose + "#Q");
}

TEST_F(VaCommTest, QueueTakes2048BytesAtOnceAnd2049FailAfterTheWriteTimeout) {
    comm.Open();
    std::string block(2048, 'a');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>('a' + i % 26);
    auto start = Clock::now();
    EXPECT_EQ(comm.WriteText(block), 2048);
    EXPECT_LT(Clock::now() - start, 500ms); // no waiting for room
    EXPECT_EQ(pty.ReadCount(2048, 5s), block);

    start = Clock::now();
    try {
        comm.WriteText(std::string(2049, 'z'));
        ADD_FAILURE() << "2049 bytes queued";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(comm.Active());
    EXPECT_EQ(pty.ReadUntilQuiet(100ms), "");
}

TEST_F(VaCommTest, WriteTextWaitsForRoomWhileTheLineIsHeld) {
    // XOFF from the other end holds the line, so the queue cannot drain.
    comm.FlowControl().SetXonXoffOut(true);
    comm.Open();
    pty.Write("\x13");
    std::this_thread::sleep_for(50ms);
    std::string sent;
    // Fill the driver and then the queue.
    for (int i = 0; i < 200; ++i) {
        const std::string chunk(100, static_cast<char>('A' + i % 26));
        try {
            comm.WriteText(chunk);
            sent += chunk;
        } catch (const EVaCommError& e) {
            EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
            break;
        }
    }
    ASSERT_LT(sent.size(), 20000u) << "the line was never held";
    // Held, not gone: a caller that must not wait can tell.
    EXPECT_FALSE(comm.CanWriteAtOnce(100));
    EXPECT_FALSE(comm.DeviceGone());

    // Room comes when the other end lets the line go.
    std::thread release([&] {
        std::this_thread::sleep_for(300ms);
        pty.Write("\x11");
    });
    std::string received;
    std::thread reader([&] { received = pty.ReadCount(sent.size() + 3, 10s); });
    EXPECT_EQ(comm.WriteText("end"), 3);
    release.join();
    reader.join();
    EXPECT_EQ(received, sent + "end");
}

TEST_F(VaCommTest, WriteTextOnAClosedPortSendsAndRaisesNothing) {
    comm.Open();
    comm.Close();
    EXPECT_EQ(comm.WriteText("#Q"), 0);
    EXPECT_EQ(comm.ReadText(), "");
    EXPECT_EQ(pty.ReadUntilQuiet(100ms), "");
}

TEST_F(VaCommTest, CloseDeliversAnEventBeingHandedOver) {
    comm.Open();
    pty.Write("#QPT000");
    ASSERT_TRUE(dispatcher.WaitPosted(5s)); // handed over, not yet run
    comm.Close();                           // must neither hang nor lose it
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, "rx");
    EXPECT_EQ(events[1].read, "#QPT000");
    EXPECT_EQ(events[1].thread, mainThread);
    EXPECT_EQ(events[2].kind, "close");
    // The posted call comes late and finds nothing to do.
    dispatcher.RunFor(50ms);
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(VaCommTest, HandlersMayCloseThePort) {
    comm.OnRxChar = [this](TVaComponent*, int count) {
        Record("rx", count);
        comm.Close();
    };
    comm.Open();
    pty.Write("#QPT000");
    ASSERT_TRUE(RunUntilCount("close", 1));
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(Count("rx"), 1);
    // Reopens as usual afterwards.
    comm.Open();
    EXPECT_TRUE(comm.Active());
}

TEST_F(VaCommTest, HandlerExceptionsGoToTheExceptionDisplay) {
    comm.OnOpen = [](TVaComponent*) { throw std::runtime_error("open handler failed"); };
    int rx = 0;
    comm.OnRxChar = [&](TVaComponent*, int) {
        ++rx;
        comm.ReadText();
        throw EVaCommError("rx handler failed");
    };
    EXPECT_NO_THROW(comm.Open());
    EXPECT_TRUE(comm.Active()); // the opening stands
    pty.Write("a");
    ASSERT_TRUE(dispatcher.RunUntil([&] { return rx == 1; }, 5s));
    pty.Write("b"); // the event thread carries on
    ASSERT_TRUE(dispatcher.RunUntil([&] { return rx == 2; }, 5s));
    EXPECT_EQ(dispatcher.exceptions,
              (std::vector<std::string>{"open handler failed", "rx handler failed",
                                        "rx handler failed"}));
}

TEST_F(VaCommTest, HangUpIsOneLineErrorAndNoBusyLoop) {
    comm.Open();
    EXPECT_FALSE(comm.DeviceGone());
    pty.HangUp();
    ASSERT_TRUE(RunUntilCount("error", 1));
    EXPECT_EQ(events.back().value, static_cast<int>(line_error::IoError));
    EXPECT_TRUE(comm.DeviceGone());

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    dispatcher.RunFor(500ms);
    comm.WriteText("#Q"); // refused by the dead line: not reported again
    dispatcher.RunFor(200ms);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage& r) {
        return std::chrono::seconds(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               std::chrono::microseconds(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
    };
    EXPECT_LT(cpu(after) - cpu(before), 300ms) << "spinning after the hang-up";
    EXPECT_EQ(Count("error"), 1);
    EXPECT_TRUE(comm.Active()); // the port stays open until closed
    comm.Close();
    EXPECT_EQ(Count("close"), 1);
    EXPECT_FALSE(comm.DeviceGone());
}

TEST_F(VaCommTest, WithoutADispatcherEventsRunOnTheWorker) {
    TVaComm plain;
    plain.SetDeviceName(pty.SlavePath());
    std::mutex m;
    std::condition_variable cv;
    std::string got;
    std::thread::id where;
    plain.OnRxChar = [&](TVaComponent*, int) {
        const std::string text = plain.ReadText();
        std::lock_guard g(m);
        got += text;
        where = std::this_thread::get_id();
        cv.notify_all();
    };
    plain.Open();
    pty.Write("#QPT000");
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return got.size() >= 7; }));
    EXPECT_EQ(got, "#QPT000");
    EXPECT_NE(where, mainThread);
    lock.unlock();
    plain.Close();
}

TEST_F(VaCommTest, DestroyingAnOpenComponentClosesWithoutOnClose) {
    bool closed = false;
    {
        TVaComm c;
        c.SetDeviceName(pty.SlavePath());
        c.OnClose = [&](TVaComponent*) { closed = true; };
        c.Open();
    }
    EXPECT_FALSE(closed);
    comm.Open(); // the device is free again
    EXPECT_TRUE(comm.Active());
}

} // namespace
} // namespace kobito
