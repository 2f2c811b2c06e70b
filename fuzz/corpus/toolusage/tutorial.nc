(OVT Tutorial 1)
