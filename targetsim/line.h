#pragma once

#include <string>

// The simulated serial line: a pseudo-terminal pair. The host opens the slave device;
// the target reads and writes the master. Its own slave descriptor stays open, so the
// master never sees a hang-up while the host closes and reopens the port.
class Line
{
public:
    Line() = default;
    ~Line();
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    // Creates a new pair in raw mode. Returns false and sets error on failure.
    bool Open(std::string &error);
    // Closes both ends: the host sees the line hang up.
    void Close();

    int Master() const { return master; }
    const std::string &Device() const { return device; }

private:
    int master = -1;
    int slave = -1;
    std::string device;
};

// Points link at device, replacing an existing link atomically (a symlink under a
// temporary name renamed over the old one).
bool UpdateLink(const std::string &link, const std::string &device, std::string &error);
// Removes link if it still points at device.
void RemoveLink(const std::string &link, const std::string &device);

// Writes all of data to a non-blocking descriptor, waiting while it is full.
bool WriteAll(int fd, const void *data, size_t size);
