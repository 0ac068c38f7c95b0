// An emulated FT245R for whole-program tests: a umockdev testbed with the
// device from a .umockdev file, whose usbfs node is answered by the handler
// below instead of replayed from a record. The handler answers the string
// descriptors (product "FT245R USB FIFO"; a string it lacks stalls, as on a
// chip), accepts every other transfer, and writes every control setup and
// every bulk write to a log in the order they arrived, for an exact
// comparison. With FT245R_STALL_BULK=N in the environment, the Nth bulk
// write stalls as on a board pulled out.
//
// Usage: ft245r_emulator DEVICE-FILE NODE LOG-FILE PROGRAM [ARGS...]
// Runs PROGRAM in a session of its own (no controlling terminal, so a key
// wait returns at once) and exits with its status.

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Submitted {
    UMockdevIoctlData* urb;
    UMockdevIoctlData* buffer;
};

std::mutex lock;
std::deque<Submitted> submitted;
std::vector<std::string> transfers;
int bulkWrites = 0, stallBulk = 0;

const char* const strings[] = {"", "FTDI", "FT245R USB FIFO", "A9PLT5QX"};

std::string hex(const std::uint8_t* bytes, int size) {
    std::string text;
    char digits[4];
    for (int i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

template <typename T>
void setField(UMockdevIoctlData* data, std::size_t offset, T value) {
    umockdev_ioctl_data_update(data, offset, reinterpret_cast<guint8*>(&value), sizeof value);
}

// The answer to a control transfer that reads: a string descriptor (index 0
// is the list of languages: US English), or nothing; false for a stall.
bool controlReply(const std::uint8_t* setup, std::vector<std::uint8_t>& reply) {
    const int index = setup[2];
    if (setup[1] != 0x06 || setup[3] != 0x03) return true;
    if (index >= static_cast<int>(std::size(strings))) return false;
    if (index == 0) return reply = {4, 3, 0x09, 0x04}, true;
    reply = {0, 3};
    for (const char* c = strings[index]; *c != '\0'; ++c) reply.insert(reply.end(), {std::uint8_t(*c), 0});
    reply[0] = static_cast<std::uint8_t>(reply.size());
    return true;
}

// Completes a submitted URB when it is reaped: logs it, answers it.
void finish(const Submitted& s) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(s.urb->data);
    const std::uint8_t* bytes = s.buffer->data;
    int actual = urb->buffer_length;
    bool answered = true;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        transfers.push_back("control " + hex(bytes, 8));
        std::vector<std::uint8_t> reply;
        answered = !(bytes[0] & 0x80) || controlReply(bytes, reply);
        const int wanted = bytes[6] | bytes[7] << 8;
        actual = static_cast<int>(reply.size()) < wanted ? static_cast<int>(reply.size()) : wanted;
        if (actual > 0) umockdev_ioctl_data_update(s.buffer, 8, reply.data(), actual);
    } else {
        transfers.push_back("bulk " + std::to_string(urb->endpoint) + " " + hex(bytes, urb->buffer_length));
        answered = ++bulkWrites != stallBulk;
    }
    if (!answered) actual = 0;
    setField<int>(s.urb, offsetof(usbdevfs_urb, status), answered ? 0 : -EPIPE);
    setField<int>(s.urb, offsetof(usbdevfs_urb, actual_length), actual);
}

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard guard(lock);
    switch (request) {
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        case USBDEVFS_SUBMITURB: {
            UMockdevIoctlData* urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
            const auto* fields = reinterpret_cast<usbdevfs_urb*>(urb->data);
            UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
                urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(fields->buffer_length), nullptr);
            submitted.push_back({urb, buffer});
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            if (submitted.empty()) {
                umockdev_ioctl_client_complete(client, -1, EAGAIN);
                return TRUE;
            }
            const Submitted next = submitted.front();
            submitted.pop_front();
            finish(next);
            UMockdevIoctlData* out = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
            umockdev_ioctl_data_set_ptr(out, 0, next.urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        default:
            // Capabilities, kernel driver queries and the like: not there.
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DEVICE-FILE NODE LOG-FILE PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    if (const char* stall = std::getenv("FT245R_STALL_BULK")) stallBulk = std::atoi(stall);
    UMockdevTestbed* testbed = umockdev_testbed_new();
    GError* error = nullptr;
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
    if (!umockdev_testbed_add_from_file(testbed, argv[1], &error) ||
        !umockdev_testbed_attach_ioctl(testbed, argv[2], handler, &error)) {
        std::fprintf(stderr, "ft245r_emulator: %s\n", error->message);
        return 2;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
        execvp(argv[4], argv + 4);
        std::perror(argv[4]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::FILE* log = std::fopen(argv[3], "w");
    if (log == nullptr) {
        std::perror(argv[3]);
        return 2;
    }
    {
        std::lock_guard guard(lock);
        for (const std::string& line : transfers) std::fprintf(log, "%s\n", line.c_str());
    }
    std::fclose(log);
    g_object_unref(handler);
    g_object_unref(testbed);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
