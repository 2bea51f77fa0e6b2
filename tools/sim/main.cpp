// Placeholder until the virtual tracker lands.
int main() { return 0; }
