// System calls on descriptors that a signal may interrupt before they have done anything,
// and that report "nothing now" on a descriptor that does not block: shared by the serial
// device, the settings file's reading and writing and the simulator's pseudo-terminal.
#pragma once

#include <cerrno>

namespace trelvo {

// Calls `call` (a read or write returning a count, or -1 with errno set) again for as long
// as a signal interrupts it (EINTR); returns its first other result.
template <class Call>
auto retry_interrupted(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

// `error` (an errno value) says that a descriptor that does not block has no data or no room
// at the moment.
inline bool would_block(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace trelvo
