#pragma once
// The speed of the line as the program set it, and the time a byte takes at
// that speed. A pty has no wire: the program's termios on the slave is all
// there is to say how fast the line would be.
#include <termios.h>

#include <chrono>

namespace veltra::sim {

// The rate a termios speed code stands for; 0 for B0 and for codes not known.
int BaudOf(speed_t speed);

// 10 bits a byte (start bit, 8 data bits, stop bit); zero for baud <= 0.
std::chrono::nanoseconds ByteTimeAt(int baud);

// The output speed set on the terminal fd; for a pty's master that is the
// slave's, as the program set it. 0 when unknown.
int LineBaud(int fd);

}  // namespace veltra::sim
