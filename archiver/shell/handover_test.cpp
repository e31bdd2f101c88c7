#include "archiver/shell/handover.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace shell {
namespace {

std::optional<HandoverMessage> DecodeBytes(const std::string& bytes) {
    size_t at = 0;
    return DecodeHandover([&](char* out, size_t n) {
        if (bytes.size() - at < n) return false;
        std::memcpy(out, bytes.data() + at, n);
        at += n;
        return true;
    });
}

TEST(HandoverTest, MessageRoundTripAndHostileBytes) {
    HandoverMessage m;
    m.names = {"/a b.zip", "", "/\xC3\xA9.zip"};
    std::optional<HandoverMessage> back = DecodeBytes(EncodeHandover(m));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, HandoverMessage::Kind::kOpen);
    EXPECT_EQ(back->names, m.names);

    HandoverMessage settings;
    settings.kind = HandoverMessage::Kind::kSettings;
    back = DecodeBytes(EncodeHandover(settings));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, HandoverMessage::Kind::kSettings);

    std::string good = EncodeHandover(m);
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const struct {
        const char* what;
        std::string bytes;
    } bad[] = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() - 1)},
        {"wrong magic", "BORVAN2\n" + good.substr(8)},
        {"unknown kind", good.substr(0, 8) + "X" + good.substr(9)},
        {"too many names", "BORVAN1\nO" + u32(kHandoverMaxNames + 1)},
        {"name too long", "BORVAN1\nO" + u32(1) + u32(kHandoverMaxName + 1) +
                              std::string(kHandoverMaxName + 1, 'a')},
        {"huge length", "BORVAN1\nO" + u32(1) + u32(0xFFFFFFFF)},
        {"nul in a name", "BORVAN1\nO" + u32(1) + u32(3) + std::string("a\0b", 3)},
    };
    for (const auto& b : bad) EXPECT_FALSE(DecodeBytes(b.bytes)) << b.what;
}

TEST(HandoverTest, FullPaths) {
    EXPECT_EQ(FullPaths({"a.zip", "\"b c.zip\"", "/abs/../x.zip", "./d/e.zip", "\"\""}, "/home/u"),
              (std::vector<std::string>{"/home/u/a.zip", "/home/u/b c.zip", "/x.zip",
                                        "/home/u/d/e.zip"}));
}

class HandoverProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/handover_testXXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        base_ = dir;
        folder_ = base_ + "/run/";
    }
    void TearDown() override { std::filesystem::remove_all(base_); }

    // Runs `offer` in a child process (the later start) and returns its exit status, while
    // this process answers as the running instance with `free`.
    template <typename Offer>
    int OfferFromChild(HandoverListener* listener, bool free, Offer offer,
                       std::optional<HandoverMessage>* taken) {
        pid_t child = fork();
        if (child == 0) _exit(offer());
        for (int i = 0; i < 100 && listener; ++i) {
            pollfd p{listener->fd(), POLLIN, 0};
            if (poll(&p, 1, 50) == 1) {
                *taken = listener->Accept(free);
                break;
            }
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string base_, folder_;
};

TEST_F(HandoverProcessTest, ASecondStartHandsItsNamesOver) {
    std::string error;
    std::unique_ptr<HandoverListener> listener = HandoverListener::Start(folder_, &error);
    ASSERT_TRUE(listener) << error;
    struct stat st {};
    ASSERT_EQ(stat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(lstat(listener->path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::optional<HandoverMessage> taken;
    int result = OfferFromChild(
        listener.get(), true,
        [&] {
            HandoverMessage m;
            m.names = {"/tmp/a.zip"};
            pid_t taker = 0;
            HandoverResult r = OfferHandover(folder_, m, 2000, &taker);
            return r == HandoverResult::kTaken && taker == getppid() ? 0 : 1;
        },
        &taken);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->names, std::vector<std::string>{"/tmp/a.zip"});

    // Busy: the sender hears so and the request is not taken.
    taken.reset();
    result = OfferFromChild(
        listener.get(), false,
        [&] { return OfferHandover(folder_, {}, 2000) == HandoverResult::kBusy ? 0 : 1; }, &taken);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(taken);

    // A settings notice is taken even while busy.
    result = OfferFromChild(
        listener.get(), false, [&] { return BroadcastSettingsChanged(folder_, 2000) == 1 ? 0 : 1; },
        &taken);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->kind, HandoverMessage::Kind::kSettings);

    // An instance that does not answer in time counts as busy.
    result = OfferFromChild(
        nullptr, true,
        [&] { return OfferHandover(folder_, {}, 200) == HandoverResult::kBusy ? 0 : 1; }, &taken);
    EXPECT_EQ(result, 0);
    // ... and the request it left behind is not carried out later.
    pollfd p{listener->fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_FALSE(listener->Accept(true));

    std::string path = listener->path();
    listener.reset();
    EXPECT_FALSE(std::filesystem::exists(path));  // removed when the instance ends
}

TEST_F(HandoverProcessTest, StaleSocketsAreReplacedAndSkipped) {
    std::string error;
    ASSERT_TRUE(EnsurePrivateFolder(base_ + "/run", &error)) << error;
    // A crashed instance leaves its socket behind: bound, never listened to, closed.
    std::string stale = folder_ + "999999.sock";
    {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, stale.c_str());
        ASSERT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    ASSERT_TRUE(std::filesystem::exists(stale));
    EXPECT_EQ(OfferHandover(folder_, {}, 500), HandoverResult::kNoInstance);
    EXPECT_FALSE(std::filesystem::exists(stale));

    // The same at the listener's own name: it is replaced.
    std::string own = folder_ + std::to_string(getpid()) + ".sock";
    {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, own.c_str());
        ASSERT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    std::unique_ptr<HandoverListener> listener = HandoverListener::Start(folder_, &error);
    ASSERT_TRUE(listener) << error;
    // A live one is not taken over.
    UniqueFd second = ListenLocal(own, &error);
    EXPECT_LT(second.get(), 0);
    EXPECT_NE(error.find("in use"), std::string::npos);
    // A plain file with a socket's name is not removed as stale.
    std::string plain = folder_ + "123456.sock";
    std::ofstream(plain) << "x";
    EXPECT_EQ(OfferHandover(folder_, {}, 300), HandoverResult::kNoInstance);
    EXPECT_TRUE(std::filesystem::exists(plain));
}

TEST_F(HandoverProcessTest, UnsafePlacesAreRefused) {
    std::string error;
    // Longer than a socket address holds: refused, never cut.
    std::string deep = base_ + "/" + std::string(120, 'd') + "/";
    EXPECT_FALSE(HandoverListener::Start(deep, &error));
    EXPECT_NE(error.find("too long"), std::string::npos);
    EXPECT_FALSE(FitsSocketAddress(std::string(108, 'a')));
    EXPECT_TRUE(FitsSocketAddress(std::string(107, 'a')));
    UniqueFd fd;
    EXPECT_EQ(ConnectLocal(deep + "1.sock", fd), ConnectResult::kFailed);

    // A folder others can enter, or a link, is not used.
    std::string open = base_ + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0755), 0);
    EXPECT_FALSE(HandoverListener::Start(open + "/", &error));
    std::string link = base_ + "/link";
    ASSERT_EQ(symlink(folder_.c_str(), link.c_str()), 0);
    ASSERT_TRUE(EnsurePrivateFolder(base_ + "/run", &error));
    EXPECT_FALSE(HandoverListener::Start(link + "/", &error));
}

TEST_F(HandoverProcessTest, OtherUsersAreNotServed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    std::string error;
    std::unique_ptr<HandoverListener> listener = HandoverListener::Start(folder_, &error);
    ASSERT_TRUE(listener) << error;
    // Opened up by mistake: the listener's own check must still turn the other user away.
    chmod(base_.c_str(), 0755);
    chmod(folder_.c_str(), 0777);
    chmod(listener->path().c_str(), 0666);
    std::string path = listener->path();
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        UniqueFd c;
        if (ConnectLocal(path, c) != ConnectResult::kConnected) _exit(3);
        HandoverMessage m;
        m.names = {"/etc/shadow"};
        SendAllWithin(c.get(), EncodeHandover(m), 1000);
        char answer = 0;
        _exit(ReceiveExactWithin(c.get(), &answer, 1, 2000) ? 4 : 0);
    }
    pollfd p{listener->fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_FALSE(listener->Accept(true));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace shell
