// Deterministic noise for the artwork generator: integer hashing, a seeded random sequence
// for placing things, and gradient noise summed over octaves. Only integer arithmetic and
// plain double operations: the same seed gives the same pictures on every run.
#pragma once
#include <cstdint>

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 normalized(Vec3 v);

uint32_t hash32(uint32_t value);

// A uniform value in [0, 1) for the lattice point (x, y) under `seed`.
double hash_unit(int32_t x, int32_t y, uint32_t seed);

// A seeded sequence of uniform values (splitmix64): the star catalogue is drawn from it.
struct Rng {
    uint64_t state = 0;
    double uniform();                       // [0, 1)
    double range(double low, double high);  // [low, high)
    double normal();                        // mean 0, deviation 1
};

// Gradient noise in about [-1, 1], smooth, 0 at every lattice point.
double gradient_noise(Vec3 p, uint32_t seed);

// `octaves` of gradient noise, each at twice the frequency and half the weight of the one
// before; normalised so the result stays in about [-1, 1].
double fbm(Vec3 p, int octaves, uint32_t seed);

double smoothstep(double edge0, double edge1, double x);
double clamp01(double x);
double mix(double a, double b, double t);
