// What both simulators do to become the far end of a serial line: open a
// pseudo-terminal that is raw from the start and offer it under a fixed name.
#ifndef FAR_END_PORT_H
#define FAR_END_PORT_H

#include "ownedHandles.h"

#include <string>

// Opens a pseudo-terminal master into master (non-blocking) and names its
// slave.  Settings made on the master belong to the slave: it is raw at
// 19200 bit/s before the peer opens it, so nothing the peer sends before it
// sets the line up itself is echoed back or translated.  On failure returns
// false with a message in err.
bool openRawPty(OwnedFd& master, std::string& slavePath, std::string& err);

// The --link symbolic link to the slave, removed when the run ends.
class PortLink {
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;
    // Replaces a link an earlier run left behind; false when it cannot.
    bool make(const std::string& path, const std::string& target);

private:
    std::string path_;
};

#endif
