// Placeholder until the virtual tracker lands.
namespace sim {}
