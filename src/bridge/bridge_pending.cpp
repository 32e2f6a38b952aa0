// Placeholder until the image bridge lands; deleted then.
namespace lumo { void bridge_pending() {} }
