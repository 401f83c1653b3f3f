// Runs a command as on a machine whose kernel cannot execute 32-bit x86
// programs, so that the test command's other path can be tried on a machine
// that can: a seccomp filter, inherited by every child, ends a process at
// its first 32-bit system call, so no 32-bit program gets past its loader's
// first call. (Where the kernel lacks 32-bit support, exec itself fails with
// "Exec format error"; either way the 32-bit Wine loader cannot start.)
//
//   tools/without-32bit COMMAND [ARGS...]      (builds this file on first use)
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s COMMAND [ARGS...]\n", argv[0]);
    return 2;
  }
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog prog = {sizeof filter / sizeof filter[0], filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0) {
    fprintf(stderr, "%s: cannot install the filter: %s\n", argv[0], strerror(errno));
    return 3;
  }
  execvp(argv[1], argv + 1);
  fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], strerror(errno));
  return 127;
}
