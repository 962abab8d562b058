/* Moving test content for recordings: a window repainting at 60 Hz and,
 * unless told otherwise, a tone on the default sound output.
 *
 *   fv_testcontent [--geometry WxH+X+Y] [--still] [--focus]
 *                  [--tone HZ] [--no-audio] [--no-window] [--flash-every MS]
 *
 * The picture: a dark background, a bar that moves 8 pixels per frame and,
 * along the top edge, the frame number as 16 blocks of 32x32 pixels (white =
 * 1, most significant bit first), so a recording's frames can be counted.
 * --flash-every turns everything below the number strip white for 100 ms at
 * that period and plays a short click at the instant the flash appears (the
 * flash is timed to the moment the click leaves the sound server, so the two
 * coincide). --still paints one picture and then never again. Prints "ready"
 * on standard output once the window is on screen (and the sound runs), and
 * "flashing" once flashes come at their period. Runs until killed. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <math.h>
#include <pthread.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { RATE = 48000, CHUNK = 240 /* 5 ms */, FLASH_NS = 100000000 };

static double g_tone_hz = 440.0;
static long g_flash_every_ms = 0;
/* Monotonic times of the flash onsets still to paint, in order: the sound
 * thread adds one per click, the painter takes them. A queue, since an
 * output that has just started can lag by more than a period, and a click
 * must not replace the flash of the one before. */
#define FLASH_QUEUE 64
static _Atomic int64_t g_flash_queue[FLASH_QUEUE];
static _Atomic unsigned g_flash_head = 0, g_flash_tail = 0;
static _Atomic int g_audio_ready = 0;

static int64_t now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static void sleep_until_ns(int64_t t) {
  struct timespec ts = {(time_t)(t / 1000000000), (long)(t % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) != 0) {
  }
}

static void* audio_main(void* arg) {
  (void)arg;
  pa_sample_spec ss = {PA_SAMPLE_FLOAT32LE, RATE, 2};
  pa_buffer_attr ba = {(uint32_t)-1, 4 * CHUNK * 8, (uint32_t)-1, (uint32_t)-1, (uint32_t)-1};
  int err = 0;
  pa_simple* s = pa_simple_new(NULL, "fv_testcontent", PA_STREAM_PLAYBACK, NULL, "tone", &ss, NULL, &ba, &err);
  if (!s) {
    fprintf(stderr, "fv_testcontent: no sound server (%s); picture only\n", pa_strerror(err));
    atomic_store(&g_audio_ready, 1);
    return NULL;
  }
  float buf[CHUNK * 2];
  uint64_t n = 0;
  int64_t next_click = 0;
  int click_left = 0;
  atomic_store(&g_audio_ready, 1);
  for (;;) {
    int64_t t = now_ns();
    if (g_flash_every_ms > 0 && t >= next_click) {
      pa_usec_t lat = pa_simple_get_latency(s, &err);
      /* A stream that has just been opened (at the start, or again after the
       * server went away) knows no latency yet (0, or an error): a flash at
       * the wrong moment would be worse than none, so that click is left out. */
      const int known = lat != 0 && lat != (pa_usec_t)-1;
      const unsigned tail = atomic_load(&g_flash_tail);
      if (known && tail - atomic_load(&g_flash_head) < FLASH_QUEUE) {
        atomic_store(&g_flash_queue[tail % FLASH_QUEUE], t + (int64_t)lat * 1000);
        atomic_store(&g_flash_tail, tail + 1);
      }
      click_left = known ? RATE / 200 : 0; /* 5 ms */
      next_click = (next_click == 0 ? t : next_click) + (int64_t)g_flash_every_ms * 1000000;
    }
    for (int i = 0; i < CHUNK; ++i, ++n) {
      float v = (float)(0.2 * sin(2.0 * M_PI * g_tone_hz * (double)n / RATE));
      if (click_left > 0) {
        v = (click_left > RATE / 400) ? 0.9f : -0.9f;
        --click_left;
      }
      buf[2 * i] = buf[2 * i + 1] = v;
    }
    if (pa_simple_write(s, buf, sizeof buf, &err) < 0) {
      /* The sound server went away: play on once it is back, as a desktop
       * application would. */
      pa_simple_free(s);
      s = NULL;
      while (!s) {
        usleep(100000);
        s = pa_simple_new(NULL, "fv_testcontent", PA_STREAM_PLAYBACK, NULL, "tone", &ss, NULL, &ba, &err);
      }
    }
  }
  return NULL;
}

static void paint(Display* d, Window w, GC gc, int width, int height, uint32_t frame, int flash) {
  XSetForeground(d, gc, flash ? 0xFFFFFF : 0x202830);
  XFillRectangle(d, w, gc, 0, 32, (unsigned)width, (unsigned)(height - 32));
  if (!flash) {
    XSetForeground(d, gc, 0xE0E0E0);
    int x = (int)((frame * 8u) % (unsigned)width);
    XFillRectangle(d, w, gc, x, 64, 48, (unsigned)(height > 96 ? height - 96 : 1));
  }
  for (int bit = 0; bit < 16; ++bit) {
    XSetForeground(d, gc, (frame >> (15 - bit)) & 1u ? 0xFFFFFF : 0x000000);
    XFillRectangle(d, w, gc, bit * 32, 0, 32, 32);
  }
  XSetForeground(d, gc, 0x000000);
  if (width > 512) XFillRectangle(d, w, gc, 512, 0, (unsigned)(width - 512), 32);
}

int main(int argc, char** argv) {
  int still = 0, audio = 1, focus = 0, window = 1;
  unsigned gw = 0, gh = 0;
  int gx = 0, gy = 0;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--still")) still = 1;
    else if (!strcmp(argv[i], "--no-audio")) audio = 0;
    else if (!strcmp(argv[i], "--no-window")) window = 0;
    else if (!strcmp(argv[i], "--focus")) focus = 1;
    else if (!strcmp(argv[i], "--tone") && i + 1 < argc) g_tone_hz = atof(argv[++i]);
    else if (!strcmp(argv[i], "--flash-every") && i + 1 < argc) g_flash_every_ms = atol(argv[++i]);
    else if (!strcmp(argv[i], "--geometry") && i + 1 < argc) {
      if (sscanf(argv[++i], "%ux%u+%d+%d", &gw, &gh, &gx, &gy) < 2) return 1;
    } else {
      fprintf(stderr, "usage: fv_testcontent [--geometry WxH+X+Y] [--still] [--focus] [--tone HZ] "
                      "[--no-audio] [--no-window] [--flash-every MS]\n");
      return 1;
    }
  }
  if (!window) {
    /* The tone alone, for a desktop that has its own picture. */
    pthread_t t;
    if (!audio || pthread_create(&t, NULL, audio_main, NULL) != 0) return 1;
    while (!atomic_load(&g_audio_ready)) usleep(1000);
    printf("ready\n");
    fflush(stdout);
    for (;;) pause();
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "fv_testcontent: cannot open display\n");
    return 1;
  }
  int scr = DefaultScreen(d);
  int width = gw ? (int)gw : DisplayWidth(d, scr);
  int height = gh ? (int)gh : DisplayHeight(d, scr);
  if (height < 64) height = 64;
  XSetWindowAttributes a;
  a.override_redirect = True;
  a.background_pixel = 0x202830;
  Window w = XCreateWindow(d, RootWindow(d, scr), gx, gy, (unsigned)width, (unsigned)height, 0,
                           CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
  long pid = (long)getpid();
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  (unsigned char*)&pid, 1);
  XStoreName(d, w, "fv_testcontent");
  XMapRaised(d, w);
  XSync(d, False);
  if (focus) XSetInputFocus(d, w, RevertToParent, CurrentTime);
  GC gc = XCreateGC(d, w, 0, NULL);

  pthread_t audio_thread;
  if (audio) {
    pthread_create(&audio_thread, NULL, audio_main, NULL);
    while (!atomic_load(&g_audio_ready)) usleep(1000);
  }

  const int64_t period = 1000000000 / 60;
  int64_t next = now_ns() + period;
  int64_t flash_until = 0;
  int onsets = 0;
  uint32_t frame = 0;
  paint(d, w, gc, width, height, frame, 0);
  XSync(d, False);
  printf("ready\n");
  fflush(stdout);
  if (still) {
    for (;;) pause();
  }
  for (;;) {
    /* A flash onset is painted at its own instant, between two frames. */
    const unsigned head = atomic_load(&g_flash_head);
    int64_t flash_at = head != atomic_load(&g_flash_tail) ? atomic_load(&g_flash_queue[head % FLASH_QUEUE]) : 0;
    int onset = flash_at != 0 && flash_at < next;
    sleep_until_ns(onset ? flash_at : next);
    int64_t t = now_ns();
    if (onset) {
      flash_until = flash_at + FLASH_NS;
      atomic_store(&g_flash_head, head + 1);
      /* Each flash comes the output's latency after its click. That latency
       * can be up to two seconds for the first clicks (a null sink that
       * renders ahead), which leaves long gaps between the first flashes:
       * tests that count flashes from the start wait for this line, printed
       * once they come at their period. */
      if (++onsets == 4) {
        printf("flashing\n");
        fflush(stdout);
      }
    } else {
      next += period;
      if (next < t) next = t + period; /* fell behind: do not burst */
      ++frame;
    }
    paint(d, w, gc, width, height, frame, t < flash_until);
    XSync(d, False);
    while (XPending(d)) {
      XEvent ev;
      XNextEvent(d, &ev);
    }
  }
}
