// Test signals for the peak limiter's overshoot check: tone bursts and
// clicks, steady sines from 20 Hz to 20 kHz, noise, and clipped synthetic
// drums. Each signal is a named stereo pair at the given rate, full scale 1.
// Shared by the unit test and the benchmark.

#ifndef VESK_LIMITER_CORPUS_H
#define VESK_LIMITER_CORPUS_H

#include <cmath>
#include <random>
#include <string>
#include <vector>

struct Limsignal
{
    std::string         name;
    std::vector<float>  ch [2];
};


inline std::vector<Limsignal> limiter_corpus (double fs)
{
    std::vector<Limsignal> corpus;
    std::mt19937 rng (1234);
    std::normal_distribution<double> gauss (0.0, 1.0);
    std::uniform_real_distribution<double> unif (-1.0, 1.0);
    const int len = (int) (0.5 * fs);

    auto add = [&] (const std::string &name, auto gen)
    {
        Limsignal s;
        s.name = name;
        for (int c = 0; c < 2; c++)
        {
            s.ch [c].resize (len);
            for (int n = 0; n < len; n++) s.ch [c][n] = (float) gen (c, n);
        }
        corpus.push_back (std::move (s));
    };

    // Bursts: tones of several lengths that start abruptly from silence at
    // any phase, single-sample clicks and square pulses.
    for (double f : { 40.0, 100.0, 1000.0, 3000.0, 9000.0, 15000.0 })
    {
        add ("burst " + std::to_string ((int) f) + " Hz", [&, f] (int c, int n)
        {
            const int period = (int) (0.061 * fs);           // a burst every 61 ms
            const int on = 1 + (n / period) * (n / period) * 23 % (int) (0.04 * fs);
            const int m = n % period;
            return (m < on) ? std::sin (2 * M_PI * f * n / fs + 0.3 * c + n / period) : 0.0;
        });
    }
    add ("clicks", [&] (int c, int n) { return (n % 997 == (c ? 5 : 0)) ? ((n / 997) % 2 ? -1.0 : 1.0) : 0.0; });
    add ("pulses", [&] (int c, int n) { return (n % 1500 < 1 + (n / 1500) % 40) ? 1.0 : 0.0; });

    // Steady sines, a third of an octave apart from 20 Hz to 20 kHz, amplitude 0.9.
    for (int k = 0; k <= 30; k++)
    {
        const double f = 20.0 * std::pow (2.0, k / 3.0);
        if (f >= 0.5 * fs) break;
        add ("sine " + std::to_string ((int) std::round (f)) + " Hz", [&, f] (int c, int n)
        {
            return 0.9 * std::sin (2 * M_PI * f * n / fs + 0.5 * c);
        });
    }

    // Noise: white Gaussian at -10 dB RMS, and uniform white at full scale.
    add ("gaussian noise", [&] (int, int) { return 0.316 * gauss (rng); });
    add ("uniform noise", [&] (int, int) { return unif (rng); });

    // Drums: kick (falling pitch), snare (noise and tone) and hats, mixed
    // at +6 dB and clipped at full scale, as on an overdriven recording.
    {
        const int beat = (int) (0.125 * fs);
        std::vector<double> hat (len);
        double hp = 0.0, prev = 0.0;
        for (int n = 0; n < len; n++)
        {
            double w = unif (rng);
            hp = 0.6 * (hp + w - prev);
            prev = w;
            hat [n] = hp;
        }
        std::vector<double> snare (len);
        for (int n = 0; n < len; n++) snare [n] = gauss (rng);
        add ("clipped drums", [&, beat] (int c, int n)
        {
            const int b = n / beat, t = n % beat;
            const double tt = t / fs;
            double x = 0.0;
            if (b % 4 == 0 || b % 8 == 5)
            {
                x += 1.2 * std::exp (-tt / 0.08) * std::sin (2 * M_PI * (50.0 * tt + 60.0 * 0.03 * (1.0 - std::exp (-tt / 0.03))));
            }
            if (b % 4 == 2) x += std::exp (-tt / 0.05) * (0.6 * snare [n] + 0.5 * std::sin (2 * M_PI * 190.0 * tt));
            x += 0.4 * std::exp (-tt / 0.01) * hat [(n + 31 * c) % len];
            x *= 2.0;
            return (x > 1.0) ? 1.0 : ((x < -1.0) ? -1.0 : x);
        });
    }
    return corpus;
}

#endif
