#include "SoundServer.h"

#include "fixtures/TestMovie.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace playtest {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
    else posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

void Stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(10000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

}  // namespace

std::string MakeFlashMovie(const std::string& folder, const std::string& name, const TFlashMovie& spec) {
    const std::string path = folder + "/" + name;
    const std::string bands =
        "geq=lum='if(lt(Y,H/2),if(eq(mod(N,30),0),235,16),"
        "if(eq(mod(floor(N/pow(2,floor(X*12/W))),2),1),235,16))':cb=128:cr=128";
    std::string video = "color=c=black:s=192x108:r=30:d=" + std::to_string(spec.Seconds) + ",format=yuv420p," + bands +
                        ",scale=" + std::to_string(spec.Width) + ":" + std::to_string(spec.Height) + ":flags=neighbor";
    if (spec.VariableRate) video += ",setpts='(N+0.5*eq(mod(N\\,4)\\,1))/30/TB'";
    const std::string sound = "aevalsrc='if(lt(mod(t,1),0.003),0.9*sin(2*PI*3000*t),"
                              "if(lt(mod(t,0.1),0.003),0.3*sin(2*PI*3000*t),0))':s=48000:d=" +
                              std::to_string(spec.Seconds);
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i \"" + video + "\" -f lavfi -i \"" + sound +
                            "\" -c:v libx264 -preset ultrafast -g 30 -pix_fmt yuv420p " +
                            (spec.VariableRate ? "-fps_mode vfr -video_track_timescale 90000 " : "") +
                            "-c:a aac -b:a 128k '" + path + "'";
    return std::system(cmd.c_str()) == 0 ? path : "";
}

int ReadFlashFrame(const uint8_t* rgb, int width, int height, bool* flash) {
    auto bright = [&](int x, int y) {
        const uint8_t* p = rgb + (std::size_t(y) * width + x) * 3;
        return (int(p[0]) + p[1] + p[2]) / 3;
    };
    if (flash) *flash = bright(width / 2, height / 4) > 128;
    int n = 0;
    for (int i = 0; i < 12; ++i) {
        const int v = bright(int((i + 0.5) * width / 12), height * 3 / 4);
        if (v > 80 && v < 170) return -1;  // between the two levels: no number here
        if (v >= 170) n |= 1 << i;
    }
    return n;
}

std::vector<int64_t> Onsets(const std::vector<int16_t>& samples, double threshold, double gap) {
    std::vector<int64_t> out;
    const int level = int(threshold * 32767);
    const int64_t minGap = int64_t(gap * TSoundServer::kRate);
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) >= level && (out.empty() || int64_t(i) - out.back() >= minGap))
            out.push_back(int64_t(i));
    return out;
}

TSoundServer::TSoundServer() {
    FDir = testmovie::MakeTempDir("fw-sound");
    const std::string script = FDir + "/server.pa";
    {
        std::ofstream f(script);
        f << "load-module module-null-sink sink_name=fwnull rate=48000 channels=2\n"
             "set-default-sink fwnull\n"
             "load-module module-native-protocol-unix auth-anonymous=1 socket="
          << FDir << "/native\n";
    }
    if (const char* old = std::getenv("PULSE_SERVER")) {
        FHadServer = true;
        FOldServer = old;
    }
    // The server keeps its runtime files and its cookie in folders of its own.
    setenv("PULSE_RUNTIME_PATH", (FDir + "/runtime").c_str(), 1);
    const std::string home = FDir + "/home";
    mkdir(home.c_str(), 0700);
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    FServer = Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
                     "--disallow-exit", "--realtime=true", "--high-priority=true",
                     "--use-pid-file=false", "-F", script},
                    -1);
    setenv("HOME", oldHome.c_str(), 1);
    if (FServer <= 0) {
        FProblem = "pulseaudio could not be started";
        return;
    }
    setenv("PULSE_SERVER", ("unix:" + FDir + "/native").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    for (int i = 0; i < 100; ++i) {
        if (std::system("pactl info >/dev/null 2>&1") == 0) return;
        int status = 0;
        if (waitpid(FServer, &status, WNOHANG) == FServer) {
            FServer = -1;
            FProblem = "pulseaudio ended at its start";
            return;
        }
        usleep(50000);
    }
    FProblem = "pulseaudio did not answer";
}

TSoundServer::~TSoundServer() {
    StopRecording();
    Stop(FServer);
    if (FHadServer) setenv("PULSE_SERVER", FOldServer.c_str(), 1);
    else unsetenv("PULSE_SERVER");
    unsetenv("SDL_AUDIODRIVER");
    std::system(("rm -rf '" + FDir + "'").c_str());
}

bool TSoundServer::StartRecording() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    FRecorder = Spawn({"parecord", "--raw", "--device=fwnull.monitor", "--format=s16le", "--rate=48000",
                       "--channels=1", "--latency-msec=5", "--process-time-msec=2"},
                      fds[1]);
    close(fds[1]);
    if (FRecorder <= 0) {
        close(fds[0]);
        return false;
    }
    FPipe = fds[0];
    FEpoch = std::chrono::steady_clock::now();
    FReader = std::thread([this] {
        std::vector<char> buf(4096);
        std::vector<char> carry;
        uint64_t bytes = 0;
        for (;;) {
            const ssize_t n = read(FPipe, buf.data(), buf.size());
            if (n <= 0) break;
            const double arrival = std::chrono::duration<double>(std::chrono::steady_clock::now() - FEpoch).count();
            std::lock_guard<std::mutex> g(FLock);
            carry.insert(carry.end(), buf.begin(), buf.begin() + n);
            bytes += uint64_t(n);
            const std::size_t whole = carry.size() / 2;
            for (std::size_t i = 0; i < whole; ++i)
                FSamples.push_back(int16_t(uint16_t(uint8_t(carry[2 * i])) | uint16_t(uint8_t(carry[2 * i + 1])) << 8));
            carry.erase(carry.begin(), carry.begin() + std::ptrdiff_t(whole * 2));
            // The samples of this read were all heard by now: the earliest such bound is the best.
            FBestOffset = std::min(FBestOffset, arrival - double(bytes / 2) / kRate);
        }
    });
    return true;
}

void TSoundServer::StopRecording() {
    Stop(FRecorder);
    if (FReader.joinable()) FReader.join();
    if (FPipe >= 0) close(FPipe);
    FPipe = -1;
}

std::vector<int16_t> TSoundServer::Samples() const {
    std::lock_guard<std::mutex> g(FLock);
    return FSamples;
}

std::chrono::steady_clock::time_point TSoundServer::SampleZero() const {
    std::lock_guard<std::mutex> g(FLock);
    return FEpoch + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(FBestOffset));
}

}  // namespace playtest
