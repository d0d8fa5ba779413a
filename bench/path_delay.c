/*
 * Holds every packet of a netfilter queue for a fixed time, then lets it go on, in the order they
 * came: with the packets of a loopback port queued (bench/run-round-trips-kernel-path), a path
 * with that delay each way, the TCP handshake included, which a relay cannot delay.
 *
 *   path_delay --delay-ms D [--queue N]
 *
 * Prints "ready" on standard error once it is bound to the queue; ends on SIGTERM or SIGINT. Needs
 * CAP_NET_ADMIN in the network namespace of the queue.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>

/* Packets held at most; the kernel's queue is as long, so none is dropped here. */
#define HELD_MOST 8192

static struct {
  uint32_t id[HELD_MOST];
  double due[HELD_MOST];
  unsigned first; /* the oldest held */
  unsigned count;
} held;

static double delayMs;
static volatile sig_atomic_t stopping;

static double NowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

static int OnPacket(struct nfq_q_handle* queue, struct nfgenmsg* message, struct nfq_data* data,
                    void* context) {
  struct nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(data);
  (void)message;
  (void)context;
  if (header == NULL) return 0;
  if (held.count == HELD_MOST) {
    /* Cannot happen with the queue's own length; let it go rather than lose it. */
    nfq_set_verdict(queue, ntohl(header->packet_id), NF_ACCEPT, 0, NULL);
    return 0;
  }
  const unsigned slot = (held.first + held.count) % HELD_MOST;
  held.id[slot] = ntohl(header->packet_id);
  held.due[slot] = NowMs() + delayMs;
  ++held.count;
  return 0;
}

static void Stop(int signal) {
  (void)signal;
  stopping = 1;
}

int main(int argc, char** argv) {
  int queueNumber = 0;
  int i;
  static char buffer[65536 + 4096];
  delayMs = -1;
  for (i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--delay-ms") == 0) {
      delayMs = atof(argv[i + 1]);
    } else if (strcmp(argv[i], "--queue") == 0) {
      queueNumber = atoi(argv[i + 1]);
    } else {
      break;
    }
  }
  if (i != argc || delayMs < 0 || delayMs > 10000 || queueNumber < 0 || queueNumber > 65535) {
    fprintf(stderr, "usage: path_delay --delay-ms D (0 to 10000) [--queue N]\n");
    return 2;
  }
  struct nfq_handle* handle = nfq_open();
  if (handle == NULL) {
    perror("path_delay: nfq_open");
    return 2;
  }
  struct nfq_q_handle* queue = nfq_create_queue(handle, (uint16_t)queueNumber, &OnPacket, NULL);
  if (queue == NULL || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0 ||
      nfq_set_queue_maxlen(queue, HELD_MOST) < 0) {
    perror("path_delay: the queue");
    nfq_close(handle);
    return 2;
  }
  signal(SIGTERM, Stop);
  signal(SIGINT, Stop);
  fprintf(stderr, "ready\n");
  const int fd = nfq_fd(handle);
  while (!stopping) {
    int wait = 200; /* so that a signal ends it soon */
    if (held.count > 0) {
      const double left = held.due[held.first] - NowMs();
      wait = left <= 0 ? 0 : left < 200 ? (int)left + 1 : 200;
    }
    struct pollfd readable = {fd, POLLIN, 0};
    const int ready = poll(&readable, 1, wait);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) nfq_handle_packet(handle, buffer, (int)n);
    }
    const double now = NowMs();
    while (held.count > 0 && held.due[held.first] <= now) {
      nfq_set_verdict(queue, held.id[held.first], NF_ACCEPT, 0, NULL);
      held.first = (held.first + 1) % HELD_MOST;
      --held.count;
    }
  }
  /* What is still held goes on at once. */
  while (held.count > 0) {
    nfq_set_verdict(queue, held.id[held.first], NF_ACCEPT, 0, NULL);
    held.first = (held.first + 1) % HELD_MOST;
    --held.count;
  }
  nfq_destroy_queue(queue);
  nfq_close(handle);
  return 0;
}
