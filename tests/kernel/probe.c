// A stand-in for "another program" on the guest's parallel ports: it claims, holds and
// inspects ports through ppdev, and reads registers directly, beside tarvex.
//   probe claim DEV            claim, print the control register, release
//   probe hold DEV SECONDS     claim and keep the claim (prints "held" once claimed)
//   probe tryclaim DEV... MS   claim every DEV at once within MS milliseconds
//   probe set DEV HEX          claim, write the control register, release, close
//   probe inb PORT             the register's value straight from the port (no ppdev)
//   probe mark PORT N          writes A5, then N, to the data register at PORT: the host's
//                              library closes its record of the device there as mark N
#include <errno.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

static void OnAlarm(int signal) {
    (void)signal;
}

static int OpenPort(const char* device) {
    int descriptor = open(device, O_RDWR);
    if (descriptor < 0) {
        fprintf(stderr, "probe: cannot open %s: %s\n", device, strerror(errno));
        exit(2);
    }
    return descriptor;
}

static void Claim(int descriptor, const char* device) {
    if (ioctl(descriptor, PPCLAIM) != 0) {
        printf("busy %s: %s\n", device, strerror(errno));
        exit(1);
    }
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: probe claim|hold|tryclaim|set|inb|mark ...\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    const char* command = argv[1];
    if (strcmp(command, "inb") == 0) {
        unsigned long port = strtoul(argv[2], NULL, 0);
        if (ioperm(port, 1, 1) != 0) {
            fprintf(stderr, "probe: ioperm: %s\n", strerror(errno));
            return 2;
        }
        printf("%02X\n", inb((unsigned short)port));
        return 0;
    }
    if (strcmp(command, "mark") == 0 && argc > 3) {
        unsigned long port = strtoul(argv[2], NULL, 0);
        if (ioperm(port, 1, 1) != 0) {
            fprintf(stderr, "probe: ioperm: %s\n", strerror(errno));
            return 2;
        }
        outb(0xA5, (unsigned short)port);
        outb((unsigned char)strtoul(argv[3], NULL, 0), (unsigned short)port);
        return 0;
    }
    if (strcmp(command, "tryclaim") == 0) {
        // PPCLAIM sleeps while another holds the port; the alarm ends the wait (EINTR).
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnAlarm;
        sigaction(SIGALRM, &action, NULL);
        long ms = strtol(argv[argc - 1], NULL, 0);
        struct itimerval timer = {{0, 0}, {ms / 1000, (ms % 1000) * 1000}};
        setitimer(ITIMER_REAL, &timer, NULL);
        for (int i = 2; i < argc - 1; ++i) {
            Claim(OpenPort(argv[i]), argv[i]);
        }
        printf("claimed\n");
        return 0;
    }
    int descriptor = OpenPort(argv[2]);
    Claim(descriptor, argv[2]);
    if (strcmp(command, "claim") == 0) {
        unsigned char control = 0;
        ioctl(descriptor, PPRCONTROL, &control);
        printf("control %02X\n", control);
        ioctl(descriptor, PPRELEASE);
        return 0;
    }
    if (strcmp(command, "hold") == 0 && argc > 3) {
        printf("held\n");
        sleep((unsigned)atoi(argv[3]));
        return 0;
    }
    if (strcmp(command, "set") == 0 && argc > 3) {
        unsigned char control = (unsigned char)strtoul(argv[3], NULL, 16);
        ioctl(descriptor, PPWCONTROL, &control);
        ioctl(descriptor, PPRELEASE);
        close(descriptor);
        return 0;
    }
    fprintf(stderr, "probe: unknown command %s\n", command);
    return 2;
}
