"""vesk: real-time audio processors that run as JACK clients."""
