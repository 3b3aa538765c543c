#pragma once

// The kernel's termios with free input and output rates; glibc does not
// declare it, and <asm/termbits.h> clashes with <termios.h>.
struct termios2 {
  unsigned int c_iflag, c_oflag, c_cflag, c_lflag;
  unsigned char c_line;
  unsigned char c_cc[19];
  unsigned int c_ispeed, c_ospeed;
};
