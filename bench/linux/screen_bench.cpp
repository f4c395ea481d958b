// The grab on the real backend against the fastest read X offers: xcb_shm_get_image into a
// segment kept from call to call, measured in turns in the same run on the same $DISPLAY, for the
// whole screen and for a 640 x 480 rectangle (one window shared). Also what a connection opened
// per grab would add, the reason the backend keeps one.
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <fake_jni.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "com_velk_orvanta_content_client_appshare_Deskcap.h"

namespace {

const int rounds = 60;

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void print(const char* name, const std::vector<double>& ms) {
    std::printf("%s median_ms=%.3f max_ms=%.3f samples=%zu\n", name, median(ms),
                *std::max_element(ms.begin(), ms.end()), ms.size());
}

double milliseconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "screen_bench: no X display ($DISPLAY)\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const int width = screen->width_in_pixels, height = screen->height_in_pixels;
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    if (!shm || !shm->present) {
        std::fprintf(stderr, "screen_bench: the display offers no MIT-SHM\n");
        return 1;
    }
    const size_t bytes = size_t{4} * width * height;
    int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* kept = shmat(id, nullptr, 0);
    xcb_shm_seg_t segment = xcb_generate_id(c);
    std::free(xcb_request_check(c, xcb_shm_attach_checked(c, segment, static_cast<uint32_t>(id), 0)));
    shmctl(id, IPC_RMID, nullptr);

    FakeJni jni;
    const int window_width = std::min(640, width), window_height = std::min(480, height);
    jintArray whole = jni.newIntArray(width * height);
    jintArray window = jni.newIntArray(window_width * window_height);
    auto grab = [&](jintArray pixels, int w, int h) {
        return [&jni, pixels, w, h] {
            Java_com_velk_orvanta_content_client_appshare_Deskcap_nGrabPixels(jni.env(), nullptr, pixels, 0, 0, w, h);
        };
    };
    auto bare = [&](int w, int h) {
        return [c, screen, segment, w, h] {
            std::free(xcb_shm_get_image_reply(c, xcb_shm_get_image(c, screen->root, 0, 0, static_cast<uint16_t>(w),
                static_cast<uint16_t>(h), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0), nullptr));
        };
    };
    auto connect = [] {
        xcb_connection_t* fresh = xcb_connect(nullptr, nullptr);
        xcb_get_extension_data(fresh, &xcb_shm_id);
        xcb_disconnect(fresh);
    };
    const std::function<void()> grab_whole = grab(whole, width, height), bare_whole = bare(width, height);
    const std::function<void()> grab_window = grab(window, window_width, window_height);
    const std::function<void()> bare_window = bare(window_width, window_height);
    // The first grab of a process opens the backend's connection and segment once.
    for (const auto& work : {grab_whole, bare_whole, grab_window, bare_window}) work();

    std::vector<double> grabs, bares, window_grabs, window_bares, connects;
    for (int round = 0; round < rounds; ++round) {
        grabs.push_back(milliseconds(grab_whole));
        bares.push_back(milliseconds(bare_whole));
        window_grabs.push_back(milliseconds(grab_window));
        window_bares.push_back(milliseconds(bare_window));
        if (round < 10) connects.push_back(milliseconds(connect));
    }
    std::printf("linux_grab_screen width=%d height=%d\n", width, height);
    print("linux_nGrabPixels", grabs);
    print("linux_shm_get_image_kept", bares);
    print("linux_connect_per_grab", connects);
    std::printf("linux_grab_ratio ratio=%.3f\n", median(grabs) / median(bares));
    std::printf("linux_grab_window width=%d height=%d median_ms=%.3f per_second=%.0f bare_median_ms=%.3f ratio=%.3f\n",
                window_width, window_height, median(window_grabs), 1000 / median(window_grabs), median(window_bares),
                median(window_grabs) / median(window_bares));

    xcb_shm_detach(c, segment);
    shmdt(kept);
    xcb_disconnect(c);
    return jni.violations() == 0 ? 0 : 1;
}
