// The player over the one decode path (media/FrameDecoder), the movie's
// frame clock (media/FrameClock), the one scaler (media/Scaler) and the sound
// device (media/SoundOut).
//
// The player thread owns the video decoder and the pictures Cur (the frame
// passed last: shown, or dropped as late) and Next (decoded, waiting for its
// time). Each command bumps a generation; whatever the thread does (waiting
// for a picture's time, decoding a group backward) ends at the next
// generation, and the thread starts again from the position with the newest
// wishes. The sound thread lives for one forward play at 1x: it decodes the
// sound from the position's time to the end of the range into the device.
#include "media/Player.h"

#include "media/FrameClock.h"
#include "media/FrameDecoder.h"
#include "media/InputFile.h"
#include "media/Scaler.h"
#include "media/SoundOut.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace media {

namespace {
using TSteady = std::chrono::steady_clock;
constexpr double kSoundPrimeSeconds = 0.06;          // sound queued before the device starts
constexpr auto kSoundStartTimeout = std::chrono::milliseconds(500);  // then the wall clock leads
constexpr auto kSoundRunTimeout = std::chrono::milliseconds(3000);  // a fresh sound stream's start
constexpr int64_t kForwardDecodeFrames = 64;         // decode forward up to this far instead of seeking
constexpr std::size_t kMaxBackwardGroup = 48;        // pictures of one group kept for backward play
constexpr auto kLongestWait = std::chrono::milliseconds(4);
constexpr std::size_t kAheadPictures = 8;            // decoded ahead while playing forward (a busy moment's worth)

}  // namespace

struct TPlayer::TImpl {
    std::string Path;
    TPlayerEvents Events;
    TPlayerOptions Options;

    // Wishes, under Lock.
    mutable std::mutex Lock;
    std::condition_variable Wake, Changed;
    uint64_t Gen = 1, Handled = 0;
    bool Quit = false;
    bool WantPlaying = false;
    int WantSpeed = 1;
    int64_t WantSeek = -1;
    int WantKeyStep = 0;
    int64_t RangeFirst = -1, RangeEnd = -1;
    bool Loop = false;
    int Width = 0, Height = 0;
    TPlayerState St;
    bool OpenDone = false;

    // The player thread's own.
    std::optional<TInputFile> VIn;
    std::optional<TFrameDecoder> VDec;
    std::optional<TJumpFollower> Follow;
    TFrameClock Clock;
    TPictureShape Shape;
    TScaler Scaler;
    TScaler PlayScaler{SWS_FAST_BILINEAR};
    int VStream = -1, AStream = -1;
    int64_t FrameCount = 0;
    int64_t StartTicks = 0;
    AvFramePtr Cur, Next;
    std::deque<AvFramePtr> Pending;  // decoded ahead, not shown yet, in order
    bool HasCur = false, HasNext = false, CurEmitted = false;
    int64_t CurFrame = -1, NextFrame = -1;
    std::shared_ptr<const TRgbPicture> CurPicture;
    int PictureW = 0, PictureH = 0;
    uint64_t Shown = 0, Dropped = 0;

    TSoundOut Sound;
    bool SoundOk = false;
    std::thread SoundThread;
    std::atomic<bool> SoundStop{false};
    std::atomic<bool> SoundDone{false};
    std::optional<TInputFile> AIn;
    std::optional<TFrameDecoder> ADec;
    SwrContextPtr Swr;
    int64_t ResumeFrame = -1;   // the sound stopped while this frame was on screen
    double ResumeSeconds = 0;   // and had been given to the device up to here
    std::atomic<double> Volume{1.0};
    std::atomic<bool> Muted{false};

    std::thread Thread;

    // --- commands ----------------------------------------------------------
    template <class F>
    void Command(F&& change) {
        {
            std::lock_guard<std::mutex> g(Lock);
            change();
            ++Gen;
        }
        Wake.notify_all();
    }
    bool Stale(uint64_t gen) const {
        std::lock_guard<std::mutex> g(Lock);
        return Quit || Gen != gen;
    }
    // Waits up to `d`; true when a newer command came.
    bool Sleep(uint64_t gen, std::chrono::microseconds d) {
        std::unique_lock<std::mutex> g(Lock);
        return Wake.wait_for(g, d, [&] { return Quit || Gen != gen; });
    }

    void Publish(bool playing, int speed) {
        TPlayerState copy;
        {
            std::lock_guard<std::mutex> g(Lock);
            St.Playing = playing;
            St.Speed = speed;
            St.Position = std::max<int64_t>(0, CurFrame);
            St.Shown = Shown;
            St.Dropped = Dropped;
            copy = St;
        }
        Changed.notify_all();
        if (Events.State) Events.State(copy);
    }

    // --- opening -------------------------------------------------------------
    void Open() {
        TPlayerState st;
        try {
            TMovieReader reader;
            if (!reader.Open(Path)) throw MediaError(reader.LastError());
            const TMovieFacts facts = reader.Facts();
            if (facts.VideoStream < 0) throw MediaError("The file has no video stream to play.");
            if (facts.FrameRate <= 0 || facts.FrameCount <= 0) throw MediaError("The movie has no usable frame rate.");
            const std::string problem = reader.PictureSizeProblem(facts.VideoStream);
            if (!problem.empty()) throw MediaError(problem);
            FrameCount = facts.FrameCount;
            VIn.emplace(TInputFile::Open(Path));
            VStream = facts.VideoStream;
            AVStream* vs = VIn->Format->streams[VStream];
            Clock = ListedClock(vs, Path, FirstFrameTicks(Path, VStream));
            Shape = ShapeOfStream(vs);
            StartTicks = vs->start_time != AV_NOPTS_VALUE ? vs->start_time : Clock.Origin;
            VDec.emplace(*VIn, VStream, Clock.FrameTicks, Clock.Origin);
            Cur = MakeFrame();
            Next = MakeFrame();
            AStream = VIn->FirstAudioStream();
            st.Open = true;
            st.FrameCount = FrameCount;
            if (AStream < 0) {
                st.SoundNote = "The movie has no sound.";
            } else if (!Options.Sound) {
                st.SoundNote = "Sound is off.";
            } else {
                const AVCodecParameters* par = VIn->Format->streams[AStream]->codecpar;
                SoundOk = Sound.Open(par->sample_rate, std::min(2, std::max(1, par->ch_layout.nb_channels)));
                if (!SoundOk) st.SoundNote = Sound.Reason() + " The movie plays without sound.";
                else Sound.WaitRunning(kSoundRunTimeout);
                Sound.SetVolume(Volume);
                Sound.SetMuted(Muted);
            }
            st.Sound = SoundOk;
        } catch (const std::exception& e) {
            st = {};
            st.Error = e.what();
        }
        {
            std::lock_guard<std::mutex> g(Lock);
            St = st;
            OpenDone = true;
        }
        Changed.notify_all();
        if (Events.State) Events.State(st);
    }

    // --- pictures ------------------------------------------------------------
    // The next picture: one decoded ahead and not shown yet (Pending) first.
    bool DecodeInto(AVFrame* f) {
        if (!Pending.empty()) {
            av_frame_unref(f);
            av_frame_move_ref(f, Pending.front().get());
            Pending.pop_front();
            return true;
        }
        return Decode(f);
    }
    bool Decode(AVFrame* f) {
        if (!VDec->Next(f)) return false;
        if (!Follow) Follow.emplace(Clock, VIn->Format->iformat->flags & AVFMT_TS_DISCONT);
        if (f->pts == AV_NOPTS_VALUE) f->pts = Clock.Origin;
        f->pts = Follow->Follow(f->pts);
        return true;
    }
    void Forget() {
        Pending.clear();
        HasCur = HasNext = CurEmitted = false;
        av_frame_unref(Cur.get());
        av_frame_unref(Next.get());
        CurPicture.reset();
    }
    void TakeNext() {
        std::swap(Cur, Next);
        av_frame_unref(Next.get());
        CurFrame = NextFrame;
        HasCur = true;
        HasNext = false;
        CurEmitted = false;
        CurPicture.reset();
    }
    // Seeks to the key frame at or before continuous tick `target` and decodes its first picture into Next.
    bool SeekNear(int64_t target) {
        Forget();
        const int64_t stamp = Clock.StampOf(target);
        if (!VDec->SeekTo(stamp, StartTicks, Next.get())) return false;
        Follow.reset();
        if (Clock.Jumps()) {
            Follow.emplace(Clock, VIn->Format->iformat->flags & AVFMT_TS_DISCONT);
            Follow->Resume(Next->pts, Clock.List->Pieces[size_t(Clock.PieceOf(stamp, -1))].Shift);
        } else {
            Follow.emplace(Clock, VIn->Format->iformat->flags & AVFMT_TS_DISCONT);
        }
        Next->pts = Follow->Follow(Next->pts);
        NextFrame = Clock.FrameOfTicks(Next->pts);
        HasNext = true;
        return true;
    }
    // Leaves the picture of frame `frame` in Cur (the last one whose stamp is
    // not after the frame's tick) and the one after it in Next.
    bool PositionAt(int64_t frame) {
        frame = std::clamp<int64_t>(frame, 0, FrameCount - 1);
        const int64_t target = Clock.TicksOfFrame(frame);
        if (HasCur && Cur->pts <= target && HasNext && Next->pts > target) return true;
        const int64_t from = HasNext ? Next->pts : HasCur ? Cur->pts : INT64_MIN;
        const bool forward = HasCur && Cur->pts <= target && from != INT64_MIN &&
                             (target - from) / std::max<int64_t>(1, Clock.FrameTicks) <= kForwardDecodeFrames;
        if (!forward && !SeekNear(target)) return false;
        for (;;) {
            if (!HasNext) {
                if (!DecodeInto(Next.get())) return HasCur;  // the end: Cur is the last picture
                NextFrame = Clock.FrameOfTicks(Next->pts);
                HasNext = true;
            }
            if (HasCur && Next->pts > target) return true;
            TakeNext();
        }
    }
    // exact: the program's one interpolation (a paused picture is the
    // preview's and the output's); while playing, pictures stay on screen for
    // a frame and a cheaper filter does.
    std::shared_ptr<const TRgbPicture> PictureOf(const AVFrame* f, bool exact = false) {
        int w, h;
        {
            std::lock_guard<std::mutex> g(Lock);
            w = Width;
            h = Height;
        }
        if (w <= 0 || h <= 0) return nullptr;
        AvFramePtr rgb = (exact ? Scaler : PlayScaler).Scale(f, w, h, AV_PIX_FMT_RGB24, false, AVCOL_SPC_UNSPECIFIED, Shape);
        auto out = std::make_shared<TRgbPicture>();
        const std::size_t row = std::size_t(w) * 3;
        out->Width = w;
        out->Height = h;
        out->Rgb.resize(row * std::size_t(h));
        for (int y = 0; y < h; ++y)
            std::memcpy(out->Rgb.data() + row * std::size_t(y), rgb->data[0] + std::ptrdiff_t(rgb->linesize[0]) * y, row);
        return out;
    }
    void Emit(int64_t frame, std::shared_ptr<const TRgbPicture> picture, double clock, bool soundClock, bool exact) {
        TPlayedFrame f;
        f.Frame = frame;
        f.Seconds = Clock.TimeOfFrame(frame);
        f.Clock = clock;
        f.SoundClock = soundClock;
        f.ShownAt = TSteady::now();
        f.Exact = exact;
        f.Picture = std::move(picture);
        {
            std::lock_guard<std::mutex> g(Lock);
            St.Position = frame;
        }
        if (Events.Frame) Events.Frame(f);
    }
    // Shows the exact frame of the position (paused).
    void ShowExact(int64_t frame) {
        if (!PositionAt(frame) || !HasCur) return;
        // A position between pictures shows the picture on screen there, numbered as the request.
        const int64_t shown = std::clamp<int64_t>(frame, CurFrame, FrameCount - 1);
        CurPicture = PictureOf(Cur.get(), true);
        CurFrame = shown;
        CurEmitted = true;
        Emit(shown, CurPicture, Clock.TimeOfFrame(shown), false, true);
    }

    // --- sound -----------------------------------------------------------------
    void StopSound() {
        SoundStop = true;
        const bool running = SoundThread.joinable();
        if (running) SoundThread.join();
        SoundStop = false;
        if (SoundOk) {
            Sound.Pause(true);
            // Played on from the same frame, the sound goes on where the device stopped taking it.
            double handed = 0;
            if (running) ResumeFrame = Sound.HandedOver(&handed) ? CurFrame : -1;
            ResumeSeconds = ResumeFrame >= 0 ? handed : 0;
            Sound.Clear();
        }
    }
    // Movie seconds (from the first picture) of a stamp of the sound stream.
    double SoundSeconds(int64_t ticks, AVRational tb) const {
        return double(ticks) * av_q2d(tb) - double(Clock.Origin) * Clock.Tick();
    }
    void SoundMain(double from, double to) {
        try {
            if (!AIn) {
                AIn.emplace(TInputFile::Open(Path));
                ADec.emplace(*AIn, AStream, 1, 0, 1);
            }
            const AVStream* as = AIn->Format->streams[AStream];
            const AVRational tb = as->time_base;
            const int64_t start = as->start_time != AV_NOPTS_VALUE ? as->start_time : 0;
            const int64_t ticks = int64_t(std::floor((from + double(Clock.Origin) * Clock.Tick()) / av_q2d(tb)));
            AvFramePtr f = MakeFrame();
            Swr.reset();
            if (!ADec->SeekTo(ticks, start, f.get())) return;
            const int rate = Sound.Rate(), channels = Sound.Channels();
            AVChannelLayout outLayout;
            av_channel_layout_default(&outLayout, channels);
            AvFramePtr pcmFrame = MakeFrame();
            double pcmTime = SoundSeconds(f->pts, tb);
            bool have = true;
            while (have && !SoundStop) {
                if (!Swr) {
                    SwrContext* raw = nullptr;
                    CheckRc(swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, rate, &f->ch_layout,
                                                AVSampleFormat(f->format), f->sample_rate, 0, nullptr),
                            "Setting up the sound");
                    Swr.reset(raw);
                    CheckRc(swr_init(Swr.get()), "Setting up the sound");
                }
                // Frames follow one another; a stamp far off the running time (a gap) moves it.
                const double stamped = SoundSeconds(f->pts, tb);
                if (std::abs(stamped - pcmTime) > 0.05) pcmTime = stamped;
                const int cap = swr_get_out_samples(Swr.get(), f->nb_samples);
                // The resampler writes into a frame FFmpeg allocated, never into our own storage.
                av_frame_unref(pcmFrame.get());
                pcmFrame->format = AV_SAMPLE_FMT_S16;
                pcmFrame->nb_samples = std::max(1, cap);
                CheckRc(av_channel_layout_copy(&pcmFrame->ch_layout, &outLayout), "Setting up the sound");
                CheckRc(av_frame_get_buffer(pcmFrame.get(), 0), "Allocating the sound");
                const int got = swr_convert(Swr.get(), pcmFrame->data, cap, const_cast<const uint8_t**>(f->extended_data),
                                            f->nb_samples);
                const int16_t* pcm = reinterpret_cast<const int16_t*>(pcmFrame->data[0]);
                std::size_t first = 0, count = std::size_t(std::max(0, got));
                if (pcmTime < from) first = std::min(count, std::size_t((from - pcmTime) * rate + 0.5));
                const double end = pcmTime + double(count) / rate;
                if (end > to) count = std::max(first, std::size_t(std::max(0.0, (to - pcmTime) * rate + 0.5)));
                std::size_t at = first;
                while (at < count && !SoundStop) {
                    const std::size_t n = Sound.Write(pcm + at * std::size_t(channels), count - at,
                                                      pcmTime + double(at) / rate);
                    at += n;
                    if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                pcmTime += double(std::max(0, got)) / rate;
                if (pcmTime >= to) break;
                have = ADec->Next(f.get());
            }
        } catch (const std::exception&) {
            // The sound ends here; the pictures go on with the clock carried by the wall.
        }
        SoundDone = true;
    }

    // --- playing ---------------------------------------------------------------
    enum class TEnd { Interrupted, Finished, Again };

    struct TMaster {
        TImpl* P;
        bool UseSound = false;
        double Start = 0;     // movie seconds at WallStart
        int Speed = 1;
        TSteady::time_point WallStart;
        bool SoundStarted = false;
        double Now(bool* fromSound = nullptr) {
            double t = 0;
            if (UseSound && P->Sound.Clock(&t)) {
                SoundStarted = true;
                if (fromSound) *fromSound = true;
                return t;
            }
            if (fromSound) *fromSound = false;
            if (UseSound && !SoundStarted) {
                if (TSteady::now() - WallStart < kSoundStartTimeout) return Start;
                UseSound = false;  // the device never started: the wall leads
                WallStart = TSteady::now();
            }
            return Start + std::chrono::duration<double>(TSteady::now() - WallStart).count() * Speed;
        }
    };

    // Waits until the master reaches `t` (forward) or falls to `t` (backward).
    bool WaitFor(uint64_t gen, TMaster& m, double t) {
        for (;;) {
            const double now = m.Now();
            const double left = m.Speed > 0 ? t - now : now - t;
            if (left <= 0) return true;
            const auto d = std::min<std::chrono::microseconds>(
                kLongestWait, std::chrono::microseconds(int64_t(left / std::abs(m.Speed) * 1e6) + 1));
            if (Sleep(gen, d)) return false;
        }
    }

    TEnd PlayForward(uint64_t gen, int speed, int64_t end, bool loop) {
        const int64_t endFrame = std::min(end, FrameCount);
        const double endTime = Clock.TimeOfFrame(endFrame);
        TMaster m{this};
        m.Speed = speed;
        m.Start = Clock.TimeOfFrame(CurFrame);
        m.UseSound = SoundOk && speed == 1;
        if (m.UseSound && ResumeFrame == CurFrame && ResumeSeconds > m.Start &&
            ResumeSeconds < Clock.TimeOfFrame(CurFrame + 1))
            m.Start = ResumeSeconds;
        ResumeFrame = -1;
        if (!CurEmitted) {
            if (!CurPicture) CurPicture = PictureOf(Cur.get());
            CurEmitted = true;
            Emit(CurFrame, CurPicture, m.Start, false, false);
            ++Shown;
        }
        if (m.UseSound) {
            SoundDone = false;
            Sound.Clear();
            SoundThread = std::thread([this, from = m.Start, endTime] { SoundMain(from, endTime); });
            const auto primeUntil = TSteady::now() + kSoundStartTimeout;
            while (Sound.Queued() < std::size_t(kSoundPrimeSeconds * Sound.Rate()) && !SoundDone &&
                   TSteady::now() < primeUntil)
                if (Sleep(gen, std::chrono::milliseconds(2))) return TEnd::Interrupted;
            Sound.Pause(false);
        }
        m.WallStart = TSteady::now();
        Publish(true, speed);
        // A reader thread decodes a few pictures ahead, so that a moment
        // without the processor does not cost pictures; what it has not
        // handed over goes back to Pending when playing ends.
        struct TAhead {
            std::mutex Lock;
            std::condition_variable Cv;
            std::deque<AvFramePtr> Frames;
            bool Stop = false, End = false;
        } ahead;
        std::thread reader([this, &ahead] {
            try {
                for (;;) {
                    {
                        std::unique_lock<std::mutex> g(ahead.Lock);
                        ahead.Cv.wait(g, [&] { return ahead.Stop || ahead.Frames.size() < kAheadPictures; });
                        if (ahead.Stop) return;
                    }
                    AvFramePtr f = MakeFrame();
                    const bool got = DecodeInto(f.get());
                    std::lock_guard<std::mutex> g(ahead.Lock);
                    if (!got) {
                        ahead.End = true;
                        ahead.Cv.notify_all();
                        return;
                    }
                    ahead.Frames.push_back(std::move(f));
                    ahead.Cv.notify_all();
                }
            } catch (const std::exception&) {
                std::lock_guard<std::mutex> g(ahead.Lock);
                ahead.End = true;  // a picture that can not be decoded ends the play there
                ahead.Cv.notify_all();
            }
        });
        struct TJoin {
            TImpl* P;
            TAhead& A;
            std::thread& T;
            ~TJoin() {
                {
                    std::lock_guard<std::mutex> g(A.Lock);
                    A.Stop = true;
                }
                A.Cv.notify_all();
                T.join();
                while (!A.Frames.empty()) {
                    P->Pending.push_front(std::move(A.Frames.back()));
                    A.Frames.pop_back();
                }
            }
        } join{this, ahead, reader};
        for (;;) {
            if (Stale(gen)) return TEnd::Interrupted;
            if (!HasNext) {
                bool got = false, end = false;
                for (;;) {
                    {
                        std::lock_guard<std::mutex> g(ahead.Lock);
                        if (!ahead.Frames.empty()) {
                            av_frame_move_ref(Next.get(), ahead.Frames.front().get());
                            ahead.Frames.pop_front();
                            ahead.Cv.notify_all();
                            got = true;
                        } else {
                            end = ahead.End;
                        }
                    }
                    if (got || end) break;
                    if (Sleep(gen, std::chrono::milliseconds(1))) return TEnd::Interrupted;
                }
                if (!got) {
                    // The movie ends: the last picture stays for its time.
                    if (!WaitFor(gen, m, std::min(endTime, Clock.TimeOfFrame(FrameCount)))) return TEnd::Interrupted;
                    return TEnd::Finished;
                }
                NextFrame = Clock.FrameOfTicks(Next->pts);
                HasNext = true;
            }
            if (NextFrame >= endFrame) {
                if (!WaitFor(gen, m, endTime)) return TEnd::Interrupted;
                return loop ? TEnd::Again : TEnd::Finished;
            }
            const double at = Clock.SecondsOf(Next->pts);
            const double until = Clock.TimeOfFrame(NextFrame + 1);
            if (m.Now() >= std::max(until, at + 1e-6)) {  // already past its whole time: dropped
                TakeNext();
                ++Dropped;
                continue;
            }
            auto picture = PictureOf(Next.get());
            if (!WaitFor(gen, m, at)) return TEnd::Interrupted;
            TakeNext();
            CurPicture = std::move(picture);
            CurEmitted = true;
            bool fromSound = false;
            const double clock = m.Now(&fromSound);
            Emit(CurFrame, CurPicture, clock, fromSound, false);
            ++Shown;
        }
    }

    TEnd PlayBackward(uint64_t gen, int speed, int64_t low) {
        TMaster m{this};
        m.Speed = speed;
        int64_t cur = CurFrame;
        m.Start = Clock.TimeOfFrame(cur + 1);
        m.WallStart = TSteady::now();
        Publish(true, speed);
        struct TKept {
            int64_t Frame;
            std::shared_ptr<const TRgbPicture> Picture;
        };
        std::vector<TKept> group;
        while (cur > low) {
            // The pictures from the key frame before cur - 1 up to cur - 1.
            group.clear();
            if (!SeekNear(Clock.TicksOfFrame(cur - 1))) break;
            for (;;) {
                if (Stale(gen)) return TEnd::Interrupted;
                if (!HasNext) {
                    if (!DecodeInto(Next.get())) break;
                    NextFrame = Clock.FrameOfTicks(Next->pts);
                    HasNext = true;
                }
                if (NextFrame >= cur) break;
                TakeNext();
                if (CurFrame < low) continue;
                if (!group.empty() && group.back().Frame == CurFrame) group.pop_back();
                group.push_back({CurFrame, PictureOf(Cur.get())});
                if (group.size() > kMaxBackwardGroup) group.erase(group.begin());
            }
            if (group.empty()) break;
            for (auto it = group.rbegin(); it != group.rend(); ++it) {
                const double at = Clock.TimeOfFrame(it->Frame);
                if (m.Now() < at) {  // its time has passed already
                    ++Dropped;
                    cur = it->Frame;
                    continue;
                }
                if (!WaitFor(gen, m, Clock.TimeOfFrame(it->Frame + 1))) {
                    Forget();
                    CurFrame = cur;
                    return TEnd::Interrupted;
                }
                cur = it->Frame;
                CurFrame = cur;
                Emit(cur, it->Picture, m.Now(), false, false);
                ++Shown;
            }
            cur = group.front().Frame;
        }
        Forget();
        CurFrame = std::max(low, cur);
        return TEnd::Finished;
    }

    void Main() {
        // This thread opens the sound device: SDL's state for it goes with it.
        struct TSoundThread {
            ~TSoundThread() { TSoundOut::ThreadEnds(); }
        } soundThread;
        Open();
        if (!St.Open) {
            std::unique_lock<std::mutex> g(Lock);
            Handled = Gen;
            Changed.notify_all();
            Wake.wait(g, [&] { return Quit; });
            return;
        }
        CurFrame = 0;
        uint64_t done = 0;
        for (;;) {
            uint64_t gen;
            bool playing;
            int speed;
            int64_t seek, rangeFirst, rangeEnd;
            int keyStep;
            bool loop;
            {
                std::unique_lock<std::mutex> g(Lock);
                Handled = done;
                Changed.notify_all();
                Wake.wait(g, [&] { return Quit || Gen != Handled; });
                if (Quit) break;
                gen = done = Gen;
                playing = WantPlaying;
                speed = WantSpeed;
                seek = WantSeek;
                WantSeek = -1;
                keyStep = WantKeyStep;
                WantKeyStep = 0;
                rangeFirst = RangeFirst;
                rangeEnd = RangeEnd;
                loop = Loop;
            }
            // Outside the lock: the first step lists the key frames, and commands must not wait for that.
            if (keyStep != 0) seek = KeyFrameFrom(seek >= 0 ? std::min(seek, FrameCount - 1) : CurFrame, keyStep);
            StopSound();
            try {
                if (seek >= 0) CurFrame = std::clamp<int64_t>(seek, 0, FrameCount - 1);
                if (!playing) {
                    ShowExact(CurFrame);
                    Publish(false, speed);
                } else {
                    TEnd end = TEnd::Again;
                    while (end == TEnd::Again) {
                        const bool ranged = rangeEnd > rangeFirst && rangeFirst >= 0;
                        if (speed > 0) {
                            const int64_t stop = ranged ? rangeEnd : FrameCount;
                            if (CurFrame >= stop - 1 || (ranged && CurFrame < rangeFirst)) CurFrame = ranged ? rangeFirst : 0;
                            if (!PositionAt(CurFrame)) break;
                            end = PlayForward(gen, speed, stop, ranged && loop);
                            StopSound();
                            if (end == TEnd::Again) CurFrame = rangeFirst;
                        } else {
                            end = PlayBackward(gen, speed, ranged ? rangeFirst : 0);
                        }
                    }
                    if (end != TEnd::Interrupted) {
                        {
                            std::lock_guard<std::mutex> g(Lock);
                            if (Gen == gen) WantPlaying = false;
                        }
                        if (ranged(rangeFirst, rangeEnd) && speed > 0) CurFrame = std::min(CurFrame, rangeEnd - 1);
                        ShowExact(CurFrame);
                        Publish(false, speed);
                    } else {
                        bool stillPlaying;
                        {
                            std::lock_guard<std::mutex> g(Lock);
                            stillPlaying = WantPlaying;
                        }
                        if (!stillPlaying) {
                            // Paused: the frame of the position, exactly.
                            ShowExact(CurFrame);
                            Publish(false, speed);
                        }
                    }
                }
            } catch (const std::exception& e) {
                StopSound();
                Forget();
                {
                    std::lock_guard<std::mutex> g(Lock);
                    WantPlaying = false;
                    St.Error = e.what();
                }
                Publish(false, speed);
            }
        }
        StopSound();
    }
    // The previous or next key frame from `frame`, by the reader's key frame
    // list (the timeline's ticks come from the same list). It is read on the
    // first step and kept; a movie whose key frames cannot be listed steps a
    // second.
    int64_t KeyFrameFrom(int64_t frame, int direction) {
        if (!KeyList) {
            KeyList.emplace();
            TMovieReader reader;
            if (reader.Open(Path)) {
                TMovieReader::TKeyFrames keys = reader.KeyFrames();
                if (keys.Error.empty()) *KeyList = std::move(keys.Frames);
            }
        }
        const std::vector<int64_t>& keys = *KeyList;
        if (!keys.empty()) {
            if (direction < 0) {
                auto it = std::lower_bound(keys.begin(), keys.end(), frame);
                return it == keys.begin() ? 0 : *std::prev(it);
            }
            auto it = std::upper_bound(keys.begin(), keys.end(), frame);
            return it == keys.end() ? frame : std::min(*it, FrameCount - 1);
        }
        const int64_t second = std::max<int64_t>(1, int64_t(std::lround(Clock.Fps())));
        return std::clamp<int64_t>(frame + direction * second, 0, FrameCount - 1);
    }
    std::optional<std::vector<int64_t>> KeyList;   // the movie's key frames, once asked for
    static bool ranged(int64_t first, int64_t end) { return end > first && first >= 0; }
};

TPlayer::TPlayer(std::string path, TPlayerEvents events, TPlayerOptions options) : Impl(std::make_unique<TImpl>()) {
    Impl->Path = std::move(path);
    Impl->Events = std::move(events);
    Impl->Options = options;
    Impl->Thread = std::thread([d = Impl.get()] { d->Main(); });
}

TPlayer::~TPlayer() {
    {
        std::lock_guard<std::mutex> g(Impl->Lock);
        Impl->Quit = true;
    }
    Impl->Wake.notify_all();
    Impl->SoundStop = true;
    if (Impl->Thread.joinable()) Impl->Thread.join();
}

void TPlayer::SetPictureSize(int width, int height) {
    std::lock_guard<std::mutex> g(Impl->Lock);
    Impl->Width = std::max(0, width);
    Impl->Height = std::max(0, height);
}

void TPlayer::Play(int speed) {
    if (speed != 1 && speed != 2 && speed != 4 && speed != -1 && speed != -2 && speed != -4) speed = 1;
    Impl->Command([&] {
        Impl->WantPlaying = true;
        Impl->WantSpeed = speed;
        Impl->RangeFirst = Impl->RangeEnd = -1;
    });
}

void TPlayer::Pause() {
    Impl->Command([&] { Impl->WantPlaying = false; });
}

void TPlayer::Seek(int64_t frame) {
    Impl->Command([&] {
        Impl->WantSeek = std::max<int64_t>(0, frame);
        if (Impl->RangeEnd > Impl->RangeFirst &&
            (frame < Impl->RangeFirst || frame >= Impl->RangeEnd))
            Impl->RangeFirst = Impl->RangeEnd = -1;
    });
}

void TPlayer::PlayRange(int64_t first, int64_t end, bool loop) {
    Impl->Command([&] {
        Impl->WantPlaying = true;
        Impl->WantSpeed = 1;
        Impl->WantSeek = std::max<int64_t>(0, first);
        Impl->RangeFirst = std::max<int64_t>(0, first);
        Impl->RangeEnd = std::max(Impl->RangeFirst + 1, end);
        Impl->Loop = loop;
    });
}

void TPlayer::StepKeyFrame(int direction, int64_t from) {
    if (direction == 0) return;
    Impl->Command([&] {
        if (from >= 0) Impl->WantSeek = from;
        Impl->WantKeyStep = direction < 0 ? -1 : 1;
    });
}

void TPlayer::SetLoop(bool loop) {
    std::lock_guard<std::mutex> g(Impl->Lock);
    Impl->Loop = loop;
}

void TPlayer::SetVolume(double volume) {
    Impl->Volume = std::clamp(volume, 0.0, 1.0);
    Impl->Sound.SetVolume(Impl->Volume);
}

void TPlayer::SetMuted(bool muted) {
    Impl->Muted = muted;
    Impl->Sound.SetMuted(muted);
}

TPlayerState TPlayer::State() const {
    std::lock_guard<std::mutex> g(Impl->Lock);
    return Impl->St;
}

bool TPlayer::WaitOpen(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(Impl->Lock);
    return Impl->Changed.wait_for(g, timeout, [&] { return Impl->OpenDone; }) && Impl->St.Open;
}

bool TPlayer::WaitStopped(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(Impl->Lock);
    return Impl->Changed.wait_for(g, timeout, [&] {
        return Impl->OpenDone && Impl->Handled == Impl->Gen && !Impl->WantPlaying && !Impl->St.Playing;
    });
}

}  // namespace media
